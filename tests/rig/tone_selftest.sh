#!/usr/bin/env bash
# Plays a tone through the platform's DirectSound under Wine and finds it in a
# recording of the rig's output sink. Usage: tone_selftest.sh RIG_TONE_EXE
set -euo pipefail
. "$(dirname "$0")/../../scripts/rig_env.sh"
exe=$1
rate=16000 freq=1000 seconds=2

if ! pactl info >/dev/null 2>&1; then
    echo "RIG BROKEN: the sound server at $PULSE_SERVER does not answer (run scripts/setup.sh)"
    exit 1
fi
work=$(mktemp -d "$VOCORA_RIG/selftest.XXXXXX")
recorder=
cleanup() {
    [ -n "$recorder" ] && kill "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A short latency: with the default one, parec holds seconds of audio that are
# lost when it is stopped.
parec --device="$VOCORA_SINK.monitor" --raw --format=s16le --rate=$rate --channels=1 \
    --latency-msec=10 \
    > "$work/out.raw" &
recorder=$!
sleep 0.5
"$VOCORA_ROOT/scripts/wine-run.sh" "$exe" play $rate $freq $seconds
sleep 0.5
kill "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=
"$VOCORA_ROOT/scripts/wine-run.sh" "$exe" check "$(winepath -w "$work/out.raw")" $rate $freq $seconds
