#!/usr/bin/env bash
# Runs one Windows program in the rig's prefix, against the rig's sound server.
# CMake uses it as the emulator for every test program.
. "$(dirname "$0")/rig_env.sh"
exec wine "$@"
