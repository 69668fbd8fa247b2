#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build=${TRAWLNEST_BUILD_DIR:-$top/build}
if [ -x "$build/src/worker/docmill" ]; then
  exec "$build/src/worker/docmill" "$@"
fi
echo "Built programs:"
find "$build" -maxdepth 4 -type f -perm -u+x -path '*/src/*' ! -name '*.so' | sed "s|^$build/||" | sort
