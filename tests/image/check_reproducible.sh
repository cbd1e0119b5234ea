#!/usr/bin/env bash
# Builds svclaunch.exe a second time, from scratch in another folder, and
# checks that it is byte for byte the executable under test.
#   check_reproducible.sh SOURCE_DIR TOOLCHAIN_FILE EXE
set -euo pipefail
source_dir=$1
toolchain=$2
exe=$3
other=$(mktemp -d)
trap 'rm -rf "$other"' EXIT
cmake -S "$source_dir" -B "$other/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$other/build" --target svclaunch -j2 >/dev/null
if cmp "$exe" "$other/build/svclaunch.exe"; then
    echo "a second build is identical: $(sha256sum <"$exe" | cut -d' ' -f1)"
else
    exit 1
fi
