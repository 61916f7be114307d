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

# The Windows programs, cross-built with MinGW-w64 (scripts/build-windows.sh),
# and the engine's, db's and the purge's suites run under Wine, in a Wine
# configuration of their own inside build-windows. Required under
# REQUIRE_SHARED=1 (CI); elsewhere skipped, with the reason, when MinGW-w64
# or Wine is missing.
echo "== Windows build and tests under Wine"
wine_loader=""
for w in wine wine64 /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
  if command -v "$w" >/dev/null 2>&1; then
    wine_loader=$(command -v "$w")
    break
  fi
done
windows_missing=""
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || windows_missing="MinGW-w64 (x86_64-w64-mingw32-g++-posix)"
[ -z "$wine_loader" ] && windows_missing="${windows_missing:+$windows_missing and }Wine (wine or wine64)"
if [ -n "$windows_missing" ]; then
  echo "Windows tests skipped: $windows_missing not found (scripts/setup.sh installs them)"
  if [ "${REQUIRE_SHARED:-}" = 1 ]; then
    echo "REQUIRE_SHARED=1: the Windows tests are required"
    exit 1
  fi
else
  BUILD_DIR=build-windows bash scripts/build-windows.sh
  windows_start=$(date +%s)
  ctest --test-dir build-windows --output-on-failure -j"$jobs" -L windows
  # The program's window and its installer, driven as an operator would on
  # a display of its own (screenshots in build-windows/artefacts).
  window_status=0
  bash tests/win32/program_under_wine.sh build-windows build/src/window/borrar-inactivos \
    build/tools/mkclientes build/tools/jetcheck build/tools/jetdump build-windows/artefacts ||
    window_status=$?
  [ "$window_status" = 77 ] && echo "the Windows program's test was skipped"
  [ "$window_status" = 0 ] || [ "$window_status" = 77 ] || exit 1
  echo "Windows tests under Wine: $(($(date +%s) - windows_start)) s"
fi

# The fuzzer (tests/fuzz) for a minute, from the small fixtures of
# tests/fuzz/seeds.txt: clang only, in a build folder of its own. An input
# that crashes it is left in build-fuzz/crashes; keep it in
# tests/fuzz/regressions once the engine is fixed.
echo "== fuzzing (60 s)"
if command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DJET_FUZZ=ON -DBUILD_BENCHMARKS=OFF -DBORRAR_BUILD_PROGRAM=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs" --target jet_fuzz
  mkdir -p build-fuzz/corpus build-fuzz/crashes
  shared="${SHARED_DIR:-../shared}/fixtures"
  seeds=0
  while IFS= read -r seed; do
    if [ -f "$shared/$seed" ]; then
      cp "$shared/$seed" build-fuzz/corpus/
      seeds=$((seeds + 1))
    fi
  done < tests/fuzz/seeds.txt
  [ "$seeds" -eq 0 ] && echo "no seeds (the shared fixtures are absent): the fuzzer starts from nothing"
  build-fuzz/tests/jet_fuzz -max_total_time=60 -timeout=20 -rss_limit_mb=2048 \
    -max_len=262144 -artifact_prefix=build-fuzz/crashes/ build-fuzz/corpus
else
  if [ -n "${CI:-}" ]; then
    echo "clang++ not found: scripts/setup.sh installs it"
    exit 1
  fi
  echo "fuzzing skipped: clang++ not found (scripts/setup.sh installs it)"
fi
