#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs the read benchmark: the engine's
# full read of the largest fixtures against mdb-export. Arguments go to
# read_bench (--repeats N, --ours-only, or database files to read instead).
# BUILD_DIR chooses the build folder (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-bench}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build_dir" -j"$jobs" --target read_bench
"$build_dir/bench/read_bench" "$@"
