#!/usr/bin/env bash
# Soak: start and stop one installed service many times under Wine's SCM,
# for both executables, and check the log, the target's launches and that no
# process is left behind. Usage: scripts/soak.sh [cycles, default 200]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}"
offer_wine32
cycles=${1:-200}
status=0
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    prefix=build/$preset/wine
    echo "=== $preset: $cycles start/stop cycles"
    bash scripts/wine.sh "$preset" --check || continue
    bash tests/scm/prefix.sh up "$prefix" "$preset"
    SVCLAUNCH_SOAK_CYCLES=$cycles WINEPREFIX=$PWD/$prefix/run WINEDEBUG=-all \
        bash scripts/wine.sh "$preset" "build/$preset/scm_tests.exe" SoakStartStopCycles || status=1
    bash tests/scm/prefix.sh down "$prefix" "$preset" "build/$preset/scm_tests.exe" || status=1
done
exit $status
