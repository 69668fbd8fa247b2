#!/usr/bin/env bash
# Configures and builds the tree into build/ (or $TRAWLNEST_BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TRAWLNEST_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
