#!/usr/bin/env bash
# vocora.dll exports exactly its nineteen functions, imports only system DLLs
# and carries no path of the machine that built it.
# Usage: check_dll.sh OBJDUMP DLL SOURCE_DIR BUILD_DIR
set -euo pipefail
objdump=$1 dll=$2 source_dir=$3 build_dir=$4
status=0

expected="Vocora_Cleanup Vocora_CreateCaptureDec Vocora_CreatePlayDec Vocora_DestoryCaptureDec
Vocora_DestoryPlayDec Vocora_DeviceDetect Vocora_ForceUseWaveout Vocora_GetMicVolume
Vocora_GetPlayVolume Vocora_GlobalInit Vocora_Init Vocora_Play Vocora_PlayStart Vocora_PlayStop
Vocora_SetCaptureCallBack Vocora_SetLogCB Vocora_SetLogLevel Vocora_SetMicVolume
Vocora_SetPlayVolume"
dump=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
if [ "$exports" != "$(printf '%s\n' $expected | sort)" ]; then
    echo "FAIL: exports differ from the nineteen:"; printf '%s\n' "$exports"; status=1
else
    echo "exports: the nineteen names"
fi

system_dlls="kernel32.dll user32.dll msvcrt.dll winmm.dll ole32.dll msdmo.dll"
for imported in $(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p'); do
    lower=$(printf '%s' "$imported" | tr 'A-Z' 'a-z')
    if [[ " $system_dlls " == *" $lower "* ]]; then
        echo "imports: $imported"
    else
        echo "FAIL: imports $imported, which is not a system DLL"; status=1
    fi
done

for path in "$source_dir" "$build_dir"; do
    if grep -q -F -- "$path" "$dll"; then
        echo "FAIL: the DLL contains the build machine's path $path"; status=1
    fi
done
exit $status
