#!/usr/bin/env bash
# Feeds the virtual microphone a counter and captures it through the DLL.
# For the bytes to arrive unchanged the feed sink and the microphone run at
# the capture's own rate and channel count for the test's duration, so that
# the sound server does not resample; the rig's usual microphone is put back
# afterwards, failure included.
# Usage: capture_e2e.sh CAPTURE_E2E_EXE RATE CHANNELS SECONDS SELECTOR [DATALEN]
set -euo pipefail
. "$(dirname "$0")/../../scripts/rig_env.sh"
exe=$1 rate=$2 channels=$3 seconds=$4 selector=$5 datalen=${6:-0}
run="$VOCORA_ROOT/scripts/wine-run.sh"

work=$(mktemp -d "$VOCORA_RIG/capture.XXXXXX")
feeder=
microphone_modules() {
    pactl list short modules | awk -v feed="sink_name=$VOCORA_MIC_FEED" -v mic="source_name=$VOCORA_MIC" \
        'index($0, feed) || index($0, mic) { print $1 }' | sort -rn
}
load_microphone() {  # [rate channels]
    local format=()
    [ $# -eq 2 ] && format=(rate="$1" channels="$2")
    # The microphone goes before the sink it remaps, which would take it along.
    for module in $(microphone_modules); do pactl unload-module "$module" 2>/dev/null || true; done
    pactl load-module module-null-sink sink_name="$VOCORA_MIC_FEED" norewinds=1 "${format[@]}" >/dev/null
    pactl load-module module-remap-source source_name="$VOCORA_MIC" master="$VOCORA_MIC_FEED.monitor" \
        "${format[@]}" >/dev/null
    pactl set-default-source "$VOCORA_MIC"
}
cleanup() {
    [ -n "$feeder" ] && kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null
    load_microphone || echo "RIG BROKEN: the usual microphone could not be put back"
    rm -rf "$work"
}
trap cleanup EXIT

load_microphone "$rate" "$channels"
"$run" "$exe" feed "$(winepath -w "$work/feed.raw")" "$rate" "$channels" "$((seconds + 4))"
# A take the sound server spoiled (status 3) is taken again, a few times. The
# feed keeps 50 ms queued: with 10 ms its player ran dry now and then at
# 44.1 kHz stereo, putting silence into the middle of the counter.
for take in 1 2 3; do
    pacat --playback --raw --format=s16le --rate="$rate" --channels="$channels" --latency-msec=50 \
        --device="$VOCORA_MIC_FEED" "$work/feed.raw" &
    feeder=$!
    # Capture notifications are late until the feed has run for a moment.
    sleep 1.5
    status=0
    "$run" "$exe" capture "$rate" "$channels" "$seconds" "$selector" "$datalen" || status=$?
    kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null; feeder=
    [ "$status" -eq 3 ] || exit "$status"
    echo "take $take void"
done
echo "RIG BROKEN: the sound server dropped the feed in every take"
exit 1
