#!/usr/bin/env bash
# Sets up everything the build and the tests need, idempotently: the packages,
# the Wine prefix with its settings, a persistent wineserver, and the headless
# sound server with its virtual output and microphone. Needs root for apt.
set -euo pipefail
. "$(dirname "$0")/rig_env.sh"

# Analysis, pictures and the version check run on Debian's numpy, matplotlib
# and pefile, with /usr/bin/python3. CLI11 is header-only.
PACKAGES=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest libcli11-dev
          pulseaudio pulseaudio-utils python3-numpy python3-matplotlib python3-pefile)

log() { printf 'setup: %s\n' "$*"; }

install_packages() {
    local missing=() pkg
    for pkg in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

create_prefix() {
    [ -f "$VOCORA_RIG/prefix.ready" ] && return 0
    log "creating Wine prefix $WINEPREFIX"
    mkdir -p "$VOCORA_RIG"
    rm -rf "$WINEPREFIX"
    wineboot --init </dev/null >/dev/null 2>&1
    # No X server: top-level windows need the null graphics driver.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null
    # Without a debugger a crash ends the process with a non-zero status
    # (the default handler sometimes let crashing programs exit with 0).
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d false /f >/dev/null
    wineserver -w
    touch "$VOCORA_RIG/prefix.ready"
}

pid_alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

start_sound_server() {
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    chmod 700 "$PULSE_RUNTIME_PATH"
    if ! pid_alive "$PULSE_RUNTIME_PATH/pid"; then
        log "starting the sound server in $PULSE_RUNTIME_PATH"
        cat > "$VOCORA_RIG/sound.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$PULSE_RUNTIME_PATH/native
load-module module-null-sink sink_name=$VOCORA_SINK norewinds=1
load-module module-null-sink sink_name=$VOCORA_MIC_FEED norewinds=1
load-module module-remap-source source_name=$VOCORA_MIC master=$VOCORA_MIC_FEED.monitor
set-default-sink $VOCORA_SINK
set-default-source $VOCORA_MIC
PA
        pulseaudio --daemonize=yes --system=false -n -F "$VOCORA_RIG/sound.pa" \
            --exit-idle-time=-1 --use-pid-file=yes \
            --log-target="file:$VOCORA_RIG/pulse.log" </dev/null >/dev/null 2>&1
        local i
        for i in $(seq 50); do
            pactl info >/dev/null 2>&1 && break
            sleep 0.1
        done
        pactl info >/dev/null
    fi
    # A silent stream keeps the output sink running; without one the
    # recording of the sink's monitor has gaps.
    if ! pid_alive "$VOCORA_RIG/silence.pid"; then
        pacat --playback --raw --device="$VOCORA_SINK" /dev/zero </dev/null >/dev/null 2>&1 &
        echo $! > "$VOCORA_RIG/silence.pid"
    fi
}

start_wineserver() {
    # A persistent server and one warm-up program: every later program then
    # starts in a fraction of a second instead of seconds.
    # (Daemons get no terminal streams: they must not hold a caller's pipe open.)
    # (A server already running answers with a failure: that is fine.)
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1
}

install_packages
create_prefix
start_sound_server
start_wineserver
log "rig ready in $VOCORA_RIG"
