#!/usr/bin/env bash
# The SDK as a host project meets it: installed, found by find_package from a
# project outside the tree, linked, run; and the archive holds as many files.
# Usage: sdk_check.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
source_dir=$1 build_dir=$2 version=$3
work=$(mktemp -d "$build_dir/sdk-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/sdk" >/dev/null
# The toolchain searches packages under its root only; the SDK is named directly.
cmake -S "$source_dir/tests/sdk/consumer" -B "$work/consumer" \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DVocora_DIR="$work/sdk/lib/cmake/Vocora" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$source_dir/scripts/wine-run.sh" "$work/consumer/consumer.exe"

(cd "$build_dir" && cpack -B "$work/package" >/dev/null)
zip="$work/package/vocora-$version-win64.zip"
installed=$(cd "$work/sdk" && find . -type f | wc -l)
zipped=$(/usr/bin/python3 -c 'import sys, zipfile
print(sum(not n.endswith("/") for n in zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
[ "$installed" = "$zipped" ] || { echo "FAIL: $(basename "$zip") holds $zipped files, the installed SDK $installed"; exit 1; }
echo "$(basename "$zip"): $zipped files, as installed"
