#!/usr/bin/env bash
# A clean run must exit 0 and a crashing one must not: otherwise a crashing
# test would pass unnoticed. Usage: crash_check.sh CRASH_PROBE_EXE
set -uo pipefail
run="$(dirname "$0")/../../scripts/wine-run.sh"
"$run" "$1" >/dev/null 2>&1
clean=$?
"$run" "$1" crash >/dev/null 2>&1
crashed=$?
echo "clean run exit $clean, crashing run exit $crashed"
[ "$clean" -eq 0 ] && [ "$crashed" -ne 0 ]
