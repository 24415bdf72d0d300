#!/usr/bin/env bash
# vocora-host's command line: help for the tool and every command, and one
# clear line with status 2 for each kind of mistake.
# Usage: cli_check.sh VOCORA_HOST VERSION
set -uo pipefail
host=$1 version=$2
wine_run="$(dirname "$0")/../../scripts/wine-run.sh"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
status=0
expect() {  # STATUS WHAT -- ARGS
    local want=$1 what=$2 out err rc
    shift 3
    # Windows programs end their lines with CR LF.
    out=$("$wine_run" "$host" "$@" 2>"$errors") && rc=0 || rc=$?
    out=$(printf '%s' "$out" | tr -d '\r') err=$(tr -d '\r' <"$errors")
    { [ "$rc" = "$want" ] && eval "$what" && printf 'ok   %s\n' "$*"; } ||
        { printf 'FAIL %s: status %s\n%s\n%s\n' "$*" "$rc" "$out" "$err"; status=1; }
}
for command in "" info play record mic-volume loopback; do
    expect 0 '[[ $out == *"Usage: vocora-host${command:+ $command}"* ]]' -- $command --help
done
expect 0 '[ "$out" = "$version" ]' -- --version
one_line='[ -z "$out" ] && [ "$(printf "%s\n" "$err" | wc -l)" = 1 ] && [[ $err == vocora-host* ]]'
for mistake in "bogus" "" "play" "play --tone 440" "play --volume 300 --tone 440 --seconds 1" \
               "play missing.wav" "record out.wav" "loopback --rate 5" "mic-volume --set x"; do
    expect 2 "$one_line" -- $mistake
done
exit $status
