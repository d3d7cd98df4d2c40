#!/usr/bin/env bash
# The window's benchmark: prints its figures (see bench/window_bench.cpp).
#
#   bench/window.sh                 512 MiB transfers, 3 rounds
#   BENCH_MIB=64 bench/window.sh    a quicker run; BENCH_RUNS sets the rounds
#   BENCH_MIB=0 bench/window.sh     the listings only (BENCH_ENTRIES sets their length, 100000)
# Then the program's own window is left idle for 5 s, and the processor time it used is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BENCH_BUILD_DIR:-build}"
scripts/install-deps.sh "$BUILD_DIR/servers" >/dev/null
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target window_bench talvoftp-cli TalvoFTP >/dev/null
"$BUILD_DIR/bench/window_bench"

# The program's own window, idle on the offscreen platform: it should use no processor time
# at all (the kernel's count of nanoseconds on a processor, before and after).
config="$(mktemp -d)"
XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen "$BUILD_DIR/TalvoFTP" >/dev/null 2>&1 &
window_pid=$!
sleep 2
on_cpu() { cut -d' ' -f1 "/proc/$window_pid/schedstat"; }
before="$(on_cpu)"
sleep 5
after="$(on_cpu)"
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
rm -rf "$config"
awk -v ns="$((after - before))" 'BEGIN { printf "idle window: %.2f ms of processor time in 5 s (target: none)\n", ns / 1e6 }'
