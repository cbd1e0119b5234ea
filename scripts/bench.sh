#!/usr/bin/env bash
# Benchmark under Wine's SCM, both builds: svclaunch against a no-op service
# and a launch floor (see tests/bench).
# Usage: scripts/bench.sh [cycles, default 30] [pause after RUNNING in ms, default 300]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}"
offer_wine32
cycles=${1:-30}
pause=${2:-300}
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    prefix=build/$preset/wine
    echo "=== $preset"
    bash scripts/wine.sh "$preset" --check || continue
    bash tests/scm/prefix.sh up "$prefix" "$preset" >/dev/null
    WINEPREFIX=$PWD/$prefix/run WINEDEBUG=-all bash scripts/wine.sh "$preset" "build/$preset/bench.exe" "$cycles" "$pause" || true
    bash tests/scm/prefix.sh down "$prefix" "$preset" "build/$preset/scm_tests.exe" >/dev/null
done
