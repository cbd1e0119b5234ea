#!/usr/bin/env bash
# Builds svclaunch.exe and the release archive a second time, from scratch in
# another folder, and checks that both are byte for byte the ones under test.
#   check_reproducible.sh SOURCE_DIR TOOLCHAIN_FILE EXE ARCHIVE
set -euo pipefail
source_dir=$1
toolchain=$2
exe=$3
archive=$4
other=$(mktemp -d)
trap 'rm -rf "$other"' EXIT
cmake -S "$source_dir" -B "$other/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
sleep 1 # a second later, so that a time stamp would show
cmake --build "$other/build" --target svclaunch archive -j2 >/dev/null
cmp "$exe" "$other/build/svclaunch.exe"
cmp "$archive" "$other/build/$(basename "$archive")"
echo "a second build gives the same bytes:"
sha256sum "$exe" "$archive"
