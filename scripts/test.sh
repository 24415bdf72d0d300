#!/usr/bin/env bash
# Sets up the rig, builds, and runs every test under Wine. The sound server and
# wineserver are stopped on the way out, whatever happens.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/rig_env.sh"

trap '"$here/teardown.sh"' EXIT
"$here/setup.sh"
"$here/build.sh"

cd "$VOCORA_BUILD"
status=0
ctest --output-on-failure -j2 || status=$?
if [ $status -ne 0 ] && grep -q 'RIG BROKEN' Testing/Temporary/LastTest.log 2>/dev/null; then
    echo "The test rig itself is broken (see RIG BROKEN above): tests that need sound were not run."
fi
exit $status
