#!/usr/bin/env bash
# Brings up and ends the Wine prefix that the SCM suite runs in.
#   prefix.sh up   DIR ARCH               a fresh prefix DIR/run with one SCM
#   prefix.sh down DIR ARCH SCM_TESTS_EXE every service of the suite removed, the
#                                         prefix's server ended, DIR/run deleted
# DIR/template is booted once and cloned for every run. Exits 77 (skipped)
# when this machine cannot run Wine for ARCH.
set -euo pipefail
action=$1
dir=$(realpath -m "$2")
arch=$3
template=$dir/template
run=$dir/run
export WINEDEBUG=-all
wine() { bash "$(dirname "$0")/../../scripts/wine.sh" "$arch" "$@"; }
bash "$(dirname "$0")/../../scripts/wine.sh" "$arch" --check || exit $?

end_server() {
    WINEPREFIX=$1 wineserver -k 2>/dev/null || true
    WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}

# Processes whose environment names the prefix: after the end, none.
processes_of() {
    grep -lsz "^WINEPREFIX=$1\$" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true
}

case $action in
up)
    end_server "$run"
    rm -rf "$run"
    if [ ! -f "$template/.booted" ]; then
        rm -rf "$template"
        mkdir -p "$dir"
        echo "booting a $arch prefix template"
        WINEARCH=$arch WINEPREFIX=$template wine wineboot -i </dev/null >/dev/null 2>&1
        end_server "$template"
        touch "$template/.booted"
    fi
    # Hard links for the tree, copies for the registry files that the server
    # rewrites in place.
    cp -al "$template" "$run"
    cp --remove-destination "$template"/*.reg "$run"/
    # A persistent server first, so that the prefix outlives every ordinary
    # process and starts exactly one SCM.
    # The daemons must not hold the caller's output open.
    WINEPREFIX=$run wineserver -p </dev/null >/dev/null 2>&1
    WINEPREFIX=$run wine sc query PlugPlay </dev/null >/dev/null 2>&1
    # What install must refuse and only Wine can show so: a folder that Wine
    # shows as another user's (owned by nobody, which only root can make),
    # and a symbolic link to a folder.
    others=$run/drive_c/svclaunch-others
    mkdir -p "$others/real" "$others/foreign"
    ln -s real "$others/link"
    chown nobody "$others/foreign" 2>/dev/null || rmdir "$others/foreign"
    echo "prefix $run is up"
    ;;
down)
    scm_tests=$4
    if [ -d "$run" ]; then
        WINEPREFIX=$run wine "$scm_tests" --cleanup || true
    fi
    end_server "$run"
    left=$(processes_of "$run")
    rm -rf "$run"
    if [ -n "$left" ]; then
        echo "processes left behind: $left"
        exit 1
    fi
    echo "prefix $run is down"
    ;;
*)
    echo "usage: prefix.sh up DIR ARCH | down DIR ARCH SCM_TESTS_EXE" >&2
    exit 2
    ;;
esac
