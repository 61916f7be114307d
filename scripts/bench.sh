#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs one. By default the read benchmark:
# the engine's full read of the largest fixtures against mdb-export; its
# arguments go to read_bench (--repeats N, --ours-only, or database files to
# read instead). A first argument query, delete or purge runs query_bench,
# delete_bench or purge_bench instead, with the arguments that follow (each
# takes a smaller size, e.g. "scripts/bench.sh purge --clients 10000").
# BUILD_DIR chooses the build folder (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-bench}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON >/dev/null
bench=read_bench
case "${1:-}" in
  read | query | delete | purge)
    bench=$1_bench
    shift
    ;;
esac
cmake --build "$build_dir" -j"$jobs" --target "$bench"
"$build_dir/bench/$bench" "$@"
