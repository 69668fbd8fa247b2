#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build=${TRAWLNEST_BUILD_DIR:-$top/build}
cd "$build"
ctest --output-on-failure -j "$(nproc)"

# The fuzz targets under AddressSanitizer, each for a bounded number of runs.
"$top/scripts/fuzz.sh"
