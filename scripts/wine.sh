#!/usr/bin/env bash
# Runs a Windows program under Wine with the loader for its architecture.
#   wine.sh win32|win64 PROGRAM [ARGUMENT...]
#   wine.sh win32|win64 --check    exit 0 when this machine can run that loader
# Debian's /usr/bin/wine always prefers the 32-bit loader, which a kernel
# without 32-bit emulation cannot start; a 64-bit prefix needs only wine64.
# When the loader cannot run here, says why and exits 77, which the test
# presets count as skipped, not passed.
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
if ! "$loader" --version >/dev/null 2>&1; then
    echo "SKIPPED: $loader cannot run on this machine (a kernel without 32-bit emulation" \
        "cannot start Wine's 32-bit loader); the $arch executables are not run here"
    exit 77
fi
[ "${1:-}" = --check ] && exit 0
export WINELOADER=$loader
exec "$loader" "$@"
