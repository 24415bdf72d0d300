#!/usr/bin/env bash
# Configures and builds everything (the DLL, the host tool, the tests) with the
# mingw-w64 toolchain into build/.
set -euo pipefail
. "$(dirname "$0")/rig_env.sh"
# The banner's build date comes from the last commit, so the same sources give
# the same DLL.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$VOCORA_ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}
cmake -S "$VOCORA_ROOT" -B "$VOCORA_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$VOCORA_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$VOCORA_BUILD" -j2
