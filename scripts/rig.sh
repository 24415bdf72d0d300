#!/usr/bin/env bash
# The rig's virtual devices, for the main job and the end-to-end tests (the
# rig must be up: scripts/setup.sh).
#
#   rig.sh output [RATE CHANNELS]      the output sink anew, in that format or the rig's usual one
#   rig.sh microphone [RATE CHANNELS]  the microphone and its feed anew, likewise
#   rig.sh unplug devices|server       the sinks and the microphone go, or the sound server is killed
#   rig.sh plug                        whatever unplug took comes back, in the usual format
#   rig.sh route on|off                the output's monitor into the microphone, or no longer
#   rig.sh record FILE RATE CHANNELS   the output's monitor into FILE (a WAV file if FILE ends
#                                      in .wav, else raw 16-bit) until stopped
#   rig.sh feed FILE RATE CHANNELS     a raw 16-bit FILE into the microphone
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/rig_env.sh"

format() { [ $# -lt 2 ] || echo "rate=$1 channels=$2"; }

# Every module loaded with the argument $1, the newest first.
unload() {
    pactl list short modules | awk -v arg="$1" '{ for (i = 3; i <= NF; ++i) if ($i == arg) print $1 }' |
        sort -rn | while read -r module; do pactl unload-module "$module"; done
}

case ${1:-} in
output)
    shift
    unload "sink_name=$VOCORA_SINK"
    # shellcheck disable=SC2046  # the format is two words or none
    pactl load-module module-null-sink "sink_name=$VOCORA_SINK" norewinds=1 $(format "$@") >/dev/null
    pactl set-default-sink "$VOCORA_SINK"
    "$here/setup.sh" >/dev/null  # the sink's silent stream, which went with it
    ;;
microphone)
    shift
    unload "source_name=$VOCORA_MIC"  # before its feed, which would take it along
    unload "sink_name=$VOCORA_MIC_FEED"
    # shellcheck disable=SC2046
    pactl load-module module-null-sink "sink_name=$VOCORA_MIC_FEED" norewinds=1 $(format "$@") >/dev/null
    # shellcheck disable=SC2046
    pactl load-module module-remap-source "source_name=$VOCORA_MIC" "master=$VOCORA_MIC_FEED.monitor" \
        $(format "$@") >/dev/null
    pactl set-default-source "$VOCORA_MIC"
    ;;
unplug)
    if [ "${2:-}" = server ]; then
        kill -9 "$(cat "$PULSE_RUNTIME_PATH/pid")"
    else
        # All of them: a stream whose device goes moves to any other that is left.
        unload "source_name=$VOCORA_MIC"
        unload "sink_name=$VOCORA_MIC_FEED"
        unload "sink_name=$VOCORA_SINK"
    fi
    ;;
plug)
    "$here/setup.sh" >/dev/null  # a server that was killed comes back with its devices
    pactl list short sinks | cut -f2 | grep -qx "$VOCORA_SINK" || "$0" output
    pactl list short sources | cut -f2 | grep -qx "$VOCORA_MIC" || "$0" microphone
    ;;
route)
    unload "source=$VOCORA_SINK.monitor"
    if [ "${2:-}" = on ]; then
        pactl load-module module-loopback "source=$VOCORA_SINK.monitor" "sink=$VOCORA_MIC_FEED" latency_msec=20 >/dev/null
    fi
    ;;
record)
    file_format=--raw
    case $2 in *.wav) file_format=--file-format=wav ;; esac
    # A short latency, or what parec holds is lost when it is stopped.
    exec parec "--device=$VOCORA_SINK.monitor" "$file_format" --format=s16le "--rate=$3" "--channels=$4" \
        --latency-msec=10 "$2"
    ;;
feed)
    # 200 ms queued: with 10 ms the feed ran dry now and then at 44.1 kHz stereo, with 50 ms
    # whenever the machine stalled for tens of milliseconds.
    exec pacat --playback --raw --format=s16le "--rate=$3" "--channels=$4" --latency-msec=200 \
        "--device=$VOCORA_MIC_FEED" "$2"
    ;;
*)
    sed -n '4,12s/^# //p' "$0" >&2
    exit 2
    ;;
esac
