# Installs the Debian packages the project's scripts need. Sourced by them.
#
#   ensure_packages PACKAGE...   every one is needed: fails, naming the
#                                package and apt's reason, when one cannot
#                                be installed
#   offer_packages PACKAGE...    wanted, not needed: one that cannot be
#                                installed is reported and left out
#
# A package index that fails to refresh (a mirror in the middle of a sync,
# say) is not the end: apt goes on with the lists it has.

apt_sudo() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Prints the packages among the arguments that are not installed.
missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}

# Refreshes the package lists once per run of a script. A list that fails is
# reported and the others are used.
refresh_package_lists() {
    [ -n "${package_lists_refreshed:-}" ] && return 0
    package_lists_refreshed=1
    local log
    log=$(mktemp)
    if ! apt_sudo apt-get update -qq >"$log" 2>&1; then
        echo "Some package lists could not be refreshed; going on with those that were:"
        grep -E '^(E|W):' "$log" | grep -v 'Hashes of expected' | head -n 3 | sed 's/^/  /'
    fi
    rm -f "$log"
}

# Installs the packages given; false when apt refused. apt's last error line
# is left in apt_error.
install_packages() {
    local log status
    log=$(mktemp)
    DEBIAN_FRONTEND=noninteractive apt_sudo apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1
    status=$?
    apt_error=$(grep '^E:' "$log" | tail -n 1 | sed 's/^E: //')
    if grep -qE 'generated breaks|held broken packages|not going to be installed' "$log"; then
        apt_error="packages it depends on cannot be had at the versions this machine's installed ones need ($apt_error)"
    fi
    [ $status -eq 0 ] || apt_error=${apt_error:-apt-get exited with $status}
    rm -f "$log"
    return $status
}

ensure_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    refresh_package_lists
    install_packages "${missing[@]}" && return 0
    # Name the package that cannot be had, and why.
    local package
    for package in "${missing[@]}"; do
        if ! install_packages "$package"; then
            echo "Cannot install $package, which is needed: $apt_error" >&2
            return 1
        fi
    done
}

offer_packages() {
    local missing why=${offer_reason:-}
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing, where this machine can: ${missing[*]}"
    local added_i386=""
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        if ! apt_sudo dpkg --add-architecture i386; then
            echo "Left out ${missing[*]}${why}: dpkg refused the i386 architecture"
            return 0
        fi
        added_i386=1
        package_lists_refreshed=""
    fi
    refresh_package_lists
    install_packages "${missing[@]}" && return 0
    echo "Left out ${missing[*]}${why}; apt said: $apt_error"
    # Leave no architecture behind that nothing uses.
    if [ -n "$added_i386" ] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
        apt_sudo dpkg --remove-architecture i386 || true
    fi
    return 0
}

# What building and testing for the host and both Windows targets needs.
build_packages=(cmake make g++ googletest libgtest-dev clang libclang-rt-14-dev clang-tidy cppcheck
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
# Wine runs the 64-bit build; wine32 is needed only to run the 32-bit one,
# and where it cannot be installed those cases are reported as skipped.
wine_packages=(wine wine64)
wine32_packages=(wine32:i386)
release_packages=(python3 python3-yaml openssl osslsigncode)

# wine32 where this machine can have it.
offer_wine32() {
    offer_reason=" (it runs only the 32-bit build, whose Wine cases are then reported skipped)" \
        offer_packages "${wine32_packages[@]}"
}
