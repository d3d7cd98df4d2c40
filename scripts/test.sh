#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test.
#
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   the same under AddressSanitizer and UBSan, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_extra=()
if [[ "${1:-}" == "--sanitize" ]]; then
  build_dir=build-asan
  cmake_extra=(-DTALVO_SANITIZE=ON)
fi

scripts/install-deps.sh "$build_dir/servers"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_WERROR=ON "${cmake_extra[@]}"
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600
