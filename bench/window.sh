#!/usr/bin/env bash
# The window's benchmark: prints its figures (see bench/window_bench.cpp).
#
#   bench/window.sh                 512 MiB transfers, 3 rounds
#   BENCH_MIB=64 bench/window.sh    a quicker run; BENCH_RUNS sets the rounds
#   BENCH_MIB=0 bench/window.sh     the listings only
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target window_bench talvoftp-cli >/dev/null
exec "$BUILD_DIR/bench/window_bench"
