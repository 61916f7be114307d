#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test,
# once in a normal build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Every C++ file as .clang-format lays it out; a file that differs fails the run.
echo "== format"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  unformatted=()
  while IFS= read -r -d '' f; do
    clang-format "$f" | cmp -s - "$f" || unformatted+=("$f")
  done < <(git ls-files -z -- '*.cpp' '*.h')
  if [ ${#unformatted[@]} -gt 0 ]; then
    echo "these files differ from .clang-format (run clang-format -i on them):"
    printf '  %s\n' "${unformatted[@]}"
    exit 1
  fi
else
  echo "not a git checkout: format check skipped"
fi

echo "== build (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DJET_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== tests under the sanitizers"
ctest --test-dir build-asan --output-on-failure -j"$jobs" -L sanitize
