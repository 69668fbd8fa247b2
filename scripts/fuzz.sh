#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan) into build-fuzz/ and runs
# each one's bounded fuzzing test. Usage: scripts/fuzz.sh [ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TRAWLNEST_FUZZ_BUILD_DIR:-$top/build-fuzz}
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DTRAWLNEST_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
