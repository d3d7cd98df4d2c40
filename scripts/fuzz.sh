#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs each for a bounded time
# on its seed corpus. New inputs the fuzzer finds go to build-fuzz/corpus/<target>/, crash
# reproducers to build-fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 60 s, both targets)
#
# FUZZ_BUILD_TYPE chooses the CMake build type (default RelWithDebInfo).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(fuzz_listing_parser fuzz_reply_handler)
fi

build_dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${FUZZ_BUILD_TYPE:-RelWithDebInfo}" \
  -DTALVO_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build "$build_dir" --target "${targets[@]}"

mkdir -p "$build_dir/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus="$build_dir/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target: $seconds s"
  # Seeds are read from the source tree; what the run adds goes to the build tree only.
  if ! "$build_dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target-" \
      "$corpus" "tests/fuzz/corpus/$target"; then
    echo "== $target: FAILED (reproducer in $build_dir/artifacts/)"
    status=1
  fi
done
exit $status
