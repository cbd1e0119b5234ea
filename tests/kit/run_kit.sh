#!/usr/bin/env bash
# Unpacks the test kit into a Wine prefix, in a folder whose path holds a
# blank and parentheses, runs its run-tests.cmd under Wine's cmd.exe, and
# checks its exit code, the report's header and that its last line reads
# that every case passed or was skipped. Then runs run-tests.cmd alone, as
# from a zip opened without extracting it, and checks that it says so.
#   run_kit.sh ARCH PREFIX KIT_ZIP
set -uo pipefail
arch=$1
prefix=$2
kit=$3
here=$(dirname "$0")
bash "$here/../../scripts/wine.sh" "$arch" --check || exit $?
unpacked="kit (x86) test"
rm -rf "$prefix/drive_c/$unpacked"
python3 -m zipfile -e "$kit" "$prefix/drive_c/$unpacked" || exit 1
folder=$(basename "$kit" .zip)
run_cmd() {
    WINEPREFIX=$prefix WINEDEBUG=-all bash "$here/../../scripts/wine.sh" "$arch" cmd /c call "$1" </dev/null 2>&1
}
output=$(run_cmd "C:\\$unpacked\\$folder\\run-tests.cmd")
status=$?
printf '%s\n' "$output"
last=$(printf '%s\n' "$output" | tr -d '\r' | grep -v '^$' | tail -n 1)
if [ $status -ne 0 ] || ! [[ $last =~ ^[0-9]+\ passed,\ 0\ failed,\ [0-9]+\ skipped$ ]]; then
    echo "run-tests.cmd: exit code $status, last line \"$last\""
    exit 1
fi
for header in '^ANSI code page: [0-9]+$' '^system: (client|server)'; do
    if ! printf '%s\n' "$output" | tr -d '\r' | grep -Eq "$header"; then
        echo "run-tests.cmd printed no line that matches $header"
        exit 1
    fi
done

# Only the script, as Explorer runs it from inside a zip.
alone="$prefix/drive_c/$unpacked/alone"
mkdir -p "$alone"
cp "$prefix/drive_c/$unpacked/$folder/run-tests.cmd" "$alone/"
output=$(run_cmd "C:\\$unpacked\\alone\\run-tests.cmd")
status=$?
rm -rf "$prefix/drive_c/$unpacked"
printf '%s\n' "$output"
if [ $status -ne 1 ] || ! printf '%s\n' "$output" | grep -q "extract the whole zip first"; then
    echo "run-tests.cmd without scm_tests.exe beside it: exit code $status, and no word of extracting the zip"
    exit 1
fi
