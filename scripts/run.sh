#!/usr/bin/env bash
# The main job: sets up the rig, builds, and runs the host tool against
# vocora.dll under Wine. Extra arguments go to the host tool (default: info).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/rig_env.sh"

trap '"$here/teardown.sh"' EXIT
"$here/setup.sh"
"$here/build.sh" >/dev/null

[ $# -gt 0 ] || set -- info
echo "== vocora-host $*"
"$here/wine-run.sh" "$VOCORA_BUILD/bin/vocora-host.exe" "$@"
