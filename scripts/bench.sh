#!/usr/bin/env bash
# Benchmarks under Wine's SCM, both builds.
#   scripts/bench.sh [cycles, default 30] [pause after RUNNING in ms, default 300]
#       svclaunch's start and stop against a no-op service and a launch
#       floor (see scripts/bench)
#   scripts/bench.sh install [entries, default "0 5000 10000"] [runs, default 7] [svclaunch.exe of win32] [of win64]
#       the wall time of "install" (Wine's process start included) with a
#       tree of that many entries beside svclaunch.exe, files and folders
#       5 deep, each size run several times; prints the median
set -euo pipefail
export WINEDEBUG=-all
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${build_packages[@]}" "${wine_packages[@]}"
offer_wine32

# Lays out a tree of $2 entries under $1: one folder in eight, folders 5
# deep, 4 to a folder, each holding an equal share of the files.
plant_tree() {
    python3 - "$1" "$2" <<'PYTHON'
import os, sys
root, entries = sys.argv[1], int(sys.argv[2])
folders = []
def grow(path, depth):
    for i in range(4):
        if len(folders) >= entries // 8 or depth > 5:
            return
        folder = os.path.join(path, "d%d" % i)
        folders.append(folder)
        grow(folder, depth + 1)
grow(root, 1)
for folder in folders:
    os.makedirs(folder, exist_ok=True)
files = entries - len(folders)
for n in range(files):
    place = folders[n % len(folders)] if folders else root
    open(os.path.join(place, "f%d.dll" % n), "w").close()
PYTHON
}

# Times install of the executable $3 in the prefix $1 ($2: win32 or win64)
# with trees of each size in $4, $5 runs each.
time_install() {
    local prefix=$1 preset=$2 exe=$3 sizes=$4 runs=$5
    local folder=$prefix/drive_c/svclaunch-bench-install
    for entries in $sizes; do
        rm -rf "$folder"
        mkdir -p "$folder/tree"
        cp "$exe" "$folder/svclaunch.exe"
        cp "build/$preset/recording_target.exe" "$folder/target.exe"
        printf 'SvclaunchBenchInstall\r\ntarget.exe\r\n' >"$folder/service.cnf"
        plant_tree "$folder/tree" "$entries"
        local times=()
        for ((run = 0; run < runs; ++run)); do
            rm -f "$folder/service.log"
            WINEPREFIX=$PWD/$prefix bash scripts/wine.sh "$preset" sc delete SvclaunchBenchInstall >/dev/null 2>&1 || true
            local start end
            start=$(date +%s%N)
            WINEPREFIX=$PWD/$prefix bash scripts/wine.sh "$preset" 'C:\svclaunch-bench-install\svclaunch.exe' install
            end=$(date +%s%N)
            if ! grep -q "Installed Successfully" "$folder/service.log"; then
                echo "install did not succeed: $(cat "$folder/service.log")"
                return 1
            fi
            times+=($(((end - start) / 1000000)))
        done
        WINEPREFIX=$PWD/$prefix bash scripts/wine.sh "$preset" sc delete SvclaunchBenchInstall >/dev/null 2>&1 || true
        local sorted median
        sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
        median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
        echo "$preset: $entries entries: median ${median} ms of $runs runs ($sorted)"
    done
    rm -rf "$folder"
}

if [ "${1:-}" = install ]; then
    sizes=${2:-0 5000 10000}
    runs=${3:-7}
    exes=("${4:-}" "${5:-}")
else
    cycles=${1:-30}
    pause=${2:-300}
fi
index=0
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    prefix=build/$preset/wine
    echo "=== $preset"
    bash scripts/wine.sh "$preset" --check || continue
    bash tests/scm/prefix.sh up "$prefix" "$preset" >/dev/null
    if [ "${1:-}" = install ]; then
        exe=${exes[$index]:-build/$preset/svclaunch.exe}
        time_install "$prefix/run" "$preset" "$exe" "$sizes" "$runs" || true
    else
        WINEPREFIX=$PWD/$prefix/run WINEDEBUG=-all bash scripts/wine.sh "$preset" "build/$preset/bench.exe" "$cycles" "$pause" || true
    fi
    bash tests/scm/prefix.sh down "$prefix" "$preset" "build/$preset/scm_tests.exe" >/dev/null
    index=$((index + 1))
done
