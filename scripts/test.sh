#!/usr/bin/env bash
# Builds svclaunch for the host and for 32- and 64-bit Windows and runs every
# test, installing the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}"

for preset in host win32 win64; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
for preset in host win32 win64; do
    echo "=== $preset: tests"
    ctest --preset "$preset"
done
