# Sourced by every rig script: where the rig lives and how Wine and the sound
# clients find it. Everything is scoped to one folder per checkout, so two
# checkouts never share a prefix or a sound server.
VOCORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VOCORA_BUILD=${VOCORA_BUILD:-$VOCORA_ROOT/build}
# A short path under /tmp: the sound server's unix socket path is length-limited.
VOCORA_RIG=${VOCORA_RIG:-/tmp/vocora-rig-$(printf '%s' "$VOCORA_ROOT" | md5sum | cut -c1-12)}

# The virtual devices: hosts play into VOCORA_SINK; the microphone is a remap
# of VOCORA_MIC_FEED's monitor, fed by playing into VOCORA_MIC_FEED.
VOCORA_SINK=vocora_out
VOCORA_MIC_FEED=vocora_mic_feed
VOCORA_MIC=vocora_mic

export WINEPREFIX=$VOCORA_RIG/wineprefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export PULSE_RUNTIME_PATH=$VOCORA_RIG/pulse
export PULSE_STATE_PATH=$VOCORA_RIG/pulse-state
export PULSE_COOKIE=$VOCORA_RIG/pulse-state/cookie
export PULSE_SERVER=unix:$PULSE_RUNTIME_PATH/native
