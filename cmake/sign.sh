#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (SHA-256) for the release.
#   sign.sh IN OUT PFX [TIMESTAMP_URL]
# The certificate's password comes from the environment variable
# SVCLAUNCH_SIGN_PASSWORD at build time and goes to osslsigncode through a
# pipe: it is never written into a file or onto a command line. An RFC 3161
# time stamp is asked for only when a server is named.
set -euo pipefail
in=$1
out=$2
pfx=$3
timestamp=${4:-}
if [ -z "${SVCLAUNCH_SIGN_PASSWORD+set}" ]; then
    echo "sign.sh: SVCLAUNCH_SIGN_PASSWORD is not set; it must hold the password of $pfx" >&2
    exit 1
fi
stamp=()
[ -n "$timestamp" ] && stamp=(-ts "$timestamp")
rm -f "$out"
mkdir -p "$(dirname "$out")"
printf '%s' "$SVCLAUNCH_SIGN_PASSWORD" |
    osslsigncode sign -pkcs12 "$pfx" -readpass /dev/stdin -h sha256 -n svclaunch "${stamp[@]}" -in "$in" -out "$out" >/dev/null
