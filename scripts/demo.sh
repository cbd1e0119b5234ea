#!/usr/bin/env bash
# Shows svclaunch's whole life under Wine's SCM: install, sc start, sc query,
# sc stop and remove, in a fresh Wine prefix, with a sample target that
# records what it is given. Usage: scripts/demo.sh [win32|win64]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}"
offer_wine32

preset=${1:-win32}
if [ $# -eq 0 ] && ! bash scripts/wine.sh win32 --check; then
    echo "showing the win64 build instead"
    preset=win64
fi
bash scripts/wine.sh "$preset" --check
name=DemoService
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target svclaunch recording_target >/dev/null

export WINEPREFIX=$PWD/build/demo-$preset/prefix WINEDEBUG=-all WINEARCH=$preset
wine() { bash scripts/wine.sh "$preset" "$@"; }
finish() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$(dirname "$WINEPREFIX")"
}
trap finish EXIT
fail() {
    echo "DEMO FAILED: $*" >&2
    exit 1
}
step() { printf '\n== %s\n' "$*"; }

step "a fresh $preset Wine prefix"
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -k
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
wine sc query PlugPlay </dev/null >/dev/null 2>&1 || fail "Wine's SCM did not start"

folder=$WINEPREFIX/drive_c/$name
step "the folder C:\\$name: svclaunch.exe, service.cnf and target.exe"
mkdir -p "$folder"
cp "build/$preset/svclaunch.exe" "$folder/"
cp "build/$preset/recording_target.exe" "$folder/target.exe"
printf '%s\r\ntarget.exe\r\n' "$name" >"$folder/service.cnf"
ls -l "$folder"
echo "service.cnf:"
cat "$folder/service.cnf"

# Polls sc query until the service shows the state, for at most 20 s.
wait_for_state() {
    local state=$1 deadline=$((SECONDS + 20))
    until wine sc query "$name" 2>/dev/null | tr -d '\r' | grep -q "STATE *: *$state "; do
        [ $SECONDS -lt $deadline ] || fail "$name did not reach state $state"
        sleep 0.1
    done
}

step "C:\\$name\\svclaunch.exe install"
wine "C:\\$name\\svclaunch.exe" install || fail "install exited with $?"
wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$name" | tr -d '\r' | grep -E 'ImagePath|Start|Type|ObjectName'
wine sc query "$name" >/dev/null 2>&1 || fail "install registered nothing"

step "sc start $name"
wine sc start "$name" | tr -d '\r' | grep -E 'SERVICE_NAME|STATE' || fail "sc start failed"
wait_for_state 4

step "sc query $name"
wine sc query "$name" | tr -d '\r'

step "sc stop $name"
wine sc stop "$name" | tr -d '\r' | grep -E 'SERVICE_NAME|STATE' || fail "sc stop failed"
wait_for_state 1
wine sc query "$name" | tr -d '\r' | grep STATE

step "C:\\$name\\svclaunch.exe remove"
wine "C:\\$name\\svclaunch.exe" remove || fail "remove exited with $?"
if wine sc query "$name" >/dev/null 2>&1; then fail "$name is still registered"; fi
echo "$name is no longer registered"

step "service.log"
cat "$folder/service.log"
step "what the target received (parameter|current directory)"
deadline=$((SECONDS + 20))
until [ "$(grep -c . "$folder/received.txt" 2>/dev/null)" = 2 ]; do
    [ $SECONDS -lt $deadline ] || fail "the target did not receive start and close"
    sleep 0.1
done
cat "$folder/received.txt"

expected_log=$(printf 'Installed Successfully\r\n%s Created this file\r\nstart: C:\\%s\\target.exe\r\nstop: C:\\%s\\target.exe\r\nRemoved Successfully\r' "$name" "$name" "$name")
[ "$(cat "$folder/service.log")" = "$expected_log" ] || fail "service.log is not as expected"
grep -q '^start|' "$folder/received.txt" && grep -q '^close|' "$folder/received.txt" ||
    fail "the target did not receive start and close"
printf '\nThe demo ran as expected.\n'
