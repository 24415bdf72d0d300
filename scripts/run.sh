#!/usr/bin/env bash
# The main job: sets up the rig, builds, and drives vocora.dll under Wine with
# the host tool. Without arguments it reports what initialisation finds, plays
# a tone and records the output sink, then feeds the virtual microphone and
# records through the DLL, and plays a test signal through the DLL while
# capturing it back through the DLL, with the output routed into the
# microphone: the round trip, drawn into build/run/report.png. With arguments
# they go to the host tool instead.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/rig_env.sh"

feeder= recorder=
cleanup() {
    for pid in $feeder $recorder; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    "$here/rig.sh" route off 2>/dev/null || true
    "$here/teardown.sh"
}
trap cleanup EXIT
"$here/setup.sh"
"$here/build.sh" >/dev/null
host() { "$here/wine-run.sh" "$VOCORA_BUILD/bin/vocora-host.exe" "$@"; }

if [ $# -gt 0 ]; then
    host "$@"
    exit
fi

out="$VOCORA_BUILD/run"
mkdir -p "$out"

echo "== vocora-host info"
host info

echo
echo "== vocora-host play --tone 440 --seconds 2, recorded from the output sink"
"$here/rig.sh" record "$out/played.wav" 48000 1 &
recorder=$!
sleep 0.5
host play --tone 440 --seconds 2
sleep 0.5
kill "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=
echo "the output sink's recording: $out/played.wav ($(stat -c %s "$out/played.wav") bytes, 48 kHz mono)"

echo
echo "== vocora-host record --seconds 3, with a 1 kHz tone fed to the virtual microphone"
/usr/bin/python3 -c 'import numpy as np, sys
(16384 * np.sin(2 * np.pi * 1000 * np.arange(6 * 16000) / 16000)).astype("<i2").tofile(sys.argv[1])' "$out/feed.raw"
"$here/rig.sh" feed "$out/feed.raw" 16000 1 &
feeder=$!
sleep 1.5
host record "$out/captured.wav" --seconds 3 --rate 16000
echo "what the DLL captured: $out/captured.wav"
kill "$feeder" 2>/dev/null; wait "$feeder" 2>/dev/null || true; feeder=

echo
echo "== vocora-host loopback, the output's monitor routed into the microphone"
"$here/rig.sh" route on
# A run with dropouts still gets its picture: that is where they show.
status=0
host loopback --save "$out/loopback" || status=1
echo
echo "== vocora-host loopback --waveout"
host loopback --waveout --save "$out/loopback-waveout" || status=1
"$here/rig.sh" route off
/usr/bin/python3 "$VOCORA_ROOT/tools/report/loopback_report.py" "$out/loopback" "$out/report.png"
echo
echo "round trip: DirectSound $(sed -n 's/^latency_ms //p' "$out/loopback.txt") ms," \
     "waveOut $(sed -n 's/^latency_ms //p' "$out/loopback-waveout.txt") ms"
echo "the picture of the DirectSound round trip: $out/report.png"
exit $status
