#!/usr/bin/env bash
# Builds svclaunch for the host and for 32- and 64-bit Windows and runs every
# test, installing the Debian packages it needs first:
#   host       unit tests against the Win32 stand-in, clang-tidy and cppcheck
#   host-asan  the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   host-tsan  the unit tests under ThreadSanitizer
#   fuzz       libFuzzer over start-up, for a bounded time
#   win32/64   the executables' imports, and the cases against Wine's SCM
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}" "${release_packages[@]}"
offer_wine32

presets=(host host-asan host-tsan fuzz win32 win64)
for preset in "${presets[@]}"; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
for preset in "${presets[@]}"; do
    echo "=== $preset: tests"
    # Where Wine cannot run this build, say why before ctest counts its cases as skipped.
    case $preset in win32 | win64) bash scripts/wine.sh "$preset" --check || true ;; esac
    ctest --preset "$preset"
done
