#!/usr/bin/env bash
# Unpacks the test kit into a Wine prefix, runs its run-tests.cmd under
# Wine's cmd.exe, and checks its exit code and that its last line reads that
# every case passed or was skipped.
#   run_kit.sh ARCH PREFIX KIT_ZIP
set -uo pipefail
arch=$1
prefix=$2
kit=$3
here=$(dirname "$0")
bash "$here/../../scripts/wine.sh" "$arch" --check || exit $?
rm -rf "$prefix/drive_c/kit"
python3 -m zipfile -e "$kit" "$prefix/drive_c/kit" || exit 1
folder=$(basename "$kit" .zip)
output=$(WINEPREFIX=$prefix WINEDEBUG=-all bash "$here/../../scripts/wine.sh" "$arch" cmd /c "C:\\kit\\$folder\\run-tests.cmd" </dev/null 2>&1)
status=$?
printf '%s\n' "$output"
rm -rf "$prefix/drive_c/kit"
last=$(printf '%s\n' "$output" | tr -d '\r' | grep -v '^$' | tail -n 1)
if [ $status -ne 0 ] || ! [[ $last =~ ^[0-9]+\ passed,\ 0\ failed,\ [0-9]+\ skipped$ ]]; then
    echo "run-tests.cmd: exit code $status, last line \"$last\""
    exit 1
fi
