#!/usr/bin/env bash
# The release signed with a throwaway certificate: a second build from
# scratch, given the certificate, signs svclaunch.exe before the archives;
# the signature verifies against that certificate; the release and the test
# kit carry the same signed bytes, and SHA256SUMS names the signed archive;
# the password is nowhere in the build tree; and removing the signature
# gives back the unsigned executable byte for byte. The signed executable is
# left in WORK_DIR for the SCM case that runs it.
#   check_signing.sh SOURCE_DIR TOOLCHAIN_FILE UNSIGNED_EXE WORK_DIR ARCHIVE_NAME
set -euo pipefail
source_dir=$1
toolchain=$2
unsigned=$3
work=$4
name=$5
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# A self-signed code-signing certificate, valid for one day, kept here only.
password=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -keyout key.pem -out cert.pem \
    -subj "/CN=svclaunch throwaway test signer" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -in cert.pem -inkey key.pem -out signer.pfx -passout "pass:$password"

SVCLAUNCH_SIGN_PASSWORD=$password cmake -S "$source_dir" -B build -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DSVCLAUNCH_SIGN_PFX="$work/signer.pfx" >/dev/null
SVCLAUNCH_SIGN_PASSWORD=$password cmake --build build --target archive -j2 >/dev/null
status=0
fail() {
    echo "FAILED: $*"
    status=1
}
if grep -rqF "$password" build; then
    fail "the password was written into the build tree"
fi
cmp "$unsigned" build/svclaunch.exe || fail "the executable as built differs from the unsigned one under test"

python3 -m zipfile -e "build/$name.zip" release
python3 -m zipfile -e "build/$name-tests.zip" kit
signed=release/$name/svclaunch.exe
cmp "$signed" "kit/$name-tests/svclaunch.exe" || fail "the test kit does not carry the release's signed bytes"
(cd build && sha256sum -c SHA256SUMS) || fail "SHA256SUMS does not name the signed archive"
echo "signed: $(stat -c %s "$signed") bytes (unsigned: $(stat -c %s "$unsigned") bytes)"
osslsigncode verify -CAfile cert.pem -in "$signed" || fail "the signature does not verify"
osslsigncode remove-signature -in "$signed" -out unsigned-again.exe >/dev/null
cmp unsigned-again.exe "$unsigned" || fail "without its signature the executable differs from the unsigned one"
cp "$signed" signed-svclaunch.exe
rm -rf build release kit key.pem signer.pfx
exit $status
