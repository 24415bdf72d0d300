#!/usr/bin/env bash
# Stops what setup.sh started: the silent stream, the sound server and the
# prefix's wineserver, each by its pid or through the rig's own prefix.
set -uo pipefail
. "$(dirname "$0")/rig_env.sh"

stop_pid_file() {
    local file=$1 pid i
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    if kill "$pid" 2>/dev/null; then
        for i in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    fi
    rm -f "$file"
}

stop_pid_file "$VOCORA_RIG/silence.pid"
stop_pid_file "$PULSE_RUNTIME_PATH/pid"
if [ -d "$WINEPREFIX" ] && command -v wineserver >/dev/null; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
fi
exit 0
