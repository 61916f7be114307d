#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-windows/
# (Release): jetdump.exe, jetcheck.exe, jetsql.exe, mkclientes.exe and
# whatever else the build defines, at the top of the folder, each one
# self-contained (only Windows' own DLLs beside it).
#   scripts/build-windows.sh [extra cmake arguments]
# BUILD_DIR and BUILD_TYPE choose another folder or build type.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-windows}
build_type=${BUILD_TYPE:-Release}

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "build-windows: x86_64-w64-mingw32-g++-posix not found (scripts/setup.sh installs it)" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="$build_type" -DBUILD_BENCHMARKS=OFF "${launcher[@]}" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc 2>/dev/null || echo 2)"
