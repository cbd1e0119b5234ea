#!/usr/bin/env bash
# Runs a Windows program under Wine with the loader for its architecture.
#   wine.sh win32|win64 PROGRAM [ARGUMENT...]
#   wine.sh win32|win64 --check    exit 0 when this machine can run that loader
# Debian's /usr/bin/wine always prefers the 32-bit loader, which a kernel
# without 32-bit emulation cannot start; a 64-bit prefix needs only wine64.
# When the loader cannot run here, says why (not installed, or a kernel that
# cannot run it) and exits 77, which the test presets count as skipped, not
# passed.
set -uo pipefail
arch=$1
shift
case $arch in
win32) loader=/usr/lib/wine/wine ;;
win64) loader=/usr/lib/wine/wine64 ;;
*)
    echo "wine.sh: unknown architecture $arch" >&2
    exit 2
    ;;
esac
if ! output=$("$loader" --version 2>&1); then
    if [ ! -e "$loader" ] && [ "$arch" = win32 ]; then
        cause="Wine's 32-bit loader $loader is not installed (package wine32:i386)"
    elif [ ! -e "$loader" ]; then
        cause="Wine's 64-bit loader $loader is not installed (package wine64)"
    elif [[ $output == *"Exec format error"* ]]; then
        cause="this kernel cannot run 32-bit programs, Wine's 32-bit loader among them (Exec format error)"
    else
        cause="$loader does not start here: $(printf '%s' "$output" | head -n 1)"
    fi
    echo "SKIPPED: $cause; the $arch executables are not run here"
    exit 77
fi
[ "${1:-}" = --check ] && exit 0
export WINELOADER=$loader
exec "$loader" "$@"
