#!/usr/bin/env bash
# Plays through waveOut — forced, or as the fallback when Wine is told not to
# load DSOUND.DLL — and checks the recording of the output sink.
# Usage: waveout_e2e.sh WAVEOUT_E2E_EXE RATE CHANNELS forced|fallback
set -euo pipefail
. "$(dirname "$0")/../../scripts/rig_env.sh"
exe=$1 rate=$2 channels=$3 mode=$4
run="$VOCORA_ROOT/scripts/wine-run.sh"

work=$(mktemp -d "$VOCORA_RIG/waveout.XXXXXX")
recorder=
cleanup() {
    [ -n "$recorder" ] && kill "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A take the sound server spoiled (status 3) is taken again, a few times.
for take in 1 2 3; do
    parec --device="$VOCORA_SINK.monitor" --raw --format=s16le --rate="$rate" --channels=1 \
        --latency-msec=10 > "$work/out.raw" &
    recorder=$!
    sleep 0.5
    if [ "$mode" = fallback ]; then
        WINEDLLOVERRIDES="dsound=d;$WINEDLLOVERRIDES" "$run" "$exe" play "$rate" "$channels" "$mode"
    else
        "$run" "$exe" play "$rate" "$channels" "$mode"
    fi
    sleep 0.3
    kill "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=
    status=0
    "$run" "$exe" check "$(winepath -w "$work/out.raw")" "$rate" "$channels" || status=$?
    [ "$status" -eq 3 ] || exit "$status"
    echo "take $take void"
done
echo "the sound had a gap in every take"
exit 1
