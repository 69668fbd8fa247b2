#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: docmill on the sample document,
# or docmill with the arguments given.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build=${TRAWLNEST_BUILD_DIR:-$top/build}
docmill=$build/src/worker/docmill
if [ ! -x "$docmill" ]; then
  echo "run.sh: $docmill was not built" >&2
  exit 1
fi

# docmill reads its configuration file through the environment store. Without one of the
# user's own, use a sample configuration: warnings on standard error, no plug-ins.
if [ -z "${LUMBRAKE_ENV_STORE:-}" ]; then
  sample=$build/docmill-sample
  mkdir -p "$sample/deploy/plugins"
  cat > "$sample/docmill.conf" <<CONF
# Written by scripts/run.sh
LOGCFG=WORKER:WARNING
DEPLOYDIR=$sample/deploy
CONF
  printf 'LUMBRAKE_CONFIG_FILE=%s\n' "$sample/docmill.conf" > "$sample/environment"
  export LUMBRAKE_ENV_STORE=$sample/environment
fi

if [ $# -eq 0 ]; then
  # The checkout's path as a URL path: "%", blanks and "#" escaped ("%" first).
  path=${top//%/%25}
  path=${path// /%20}
  path=${path//#/%23}
  set -- 1000000 sample "file://$path/samples/sample.html"
fi
exec "$docmill" "$@"
