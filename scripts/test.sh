#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test.
#
#   scripts/test.sh              the normal build, in build/, then the program and the console
#                                tool as a user builds them (Release, -O3), in build-release/,
#                                still with warnings as errors: -O3 finds warnings -O2 does not;
#                                the tests also make that build's Debian package and check it
#   scripts/test.sh --sanitize   the same tests under AddressSanitizer and UBSan, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_extra=(-DTALVO_PACKAGE_TREE="$PWD/build-release")
if [[ "${1:-}" == "--sanitize" ]]; then
  build_dir=build-asan
  cmake_extra=(-DTALVO_SANITIZE=ON)
fi

scripts/install-deps.sh "$build_dir/servers"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_WERROR=ON "${cmake_extra[@]}"
cmake --build "$build_dir" -j "$(nproc)"
if [[ "$build_dir" == build ]]; then
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVO_WERROR=ON -DBUILD_TESTING=OFF
  cmake --build build-release -j "$(nproc)"
fi
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600
