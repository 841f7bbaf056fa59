#!/usr/bin/env bash
# A packed updater signed as a vendor signs it, with osslsigncode and a throw-away certificate:
# the signature verifies, and the signed updater still finds its packages and checks their
# SHA-256. Then the signed updater packed again: tessara-pack says so, the result carries no
# (broken) signature, and signed anew it verifies.
#
#   SignedUpdaterTest.sh BIN_DIR
# ctest runs it in the Wine session of scripts/test_windows.sh (WINEPREFIX, DISPLAY).
set -euo pipefail
bin=$1
# Never the user's own Wine prefix.
[ -n "${WINEPREFIX:-}" ] || { echo "FAIL: no WINEPREFIX: run it through scripts/test_windows.sh" >&2; exit 1; }
for tool in openssl osslsigncode wine winepath; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/test_windows.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tessara-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
win() { winepath -w "$1"; }
pack() { wine "$bin/tessara-pack.exe" "$@"; }
sign() {
    osslsigncode sign -certs cert.pem -key key.pem -n "Оновлення ПК Тессара" -h sha256 \
        -in "$1" -out "$2" >"$2.sign" 2>&1 || fail "signing $1: $(cat "$2.sign")"
}
verifies() { osslsigncode verify -CAfile cert.pem "$1" >"$1.verify" 2>&1; }
# The updater's own view of its packages: discovery and every package written out and checked.
packages_of() { wine "$bin/test_package_check.exe" "$(win "$1")" | tr -d '\r'; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessara test signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null

mkdir -p 238/Reports
printf 'update versions set data = 238;\r\n' >238/up.99.238.lsql
printf 'template of 238' >238/Reports/list.fr3
pack --updater "$(win "$bin/tessara-updater.exe")" --out "$(win packed.exe)" 238="$(win 238)" \
    2>pack.err || fail "packing: $(cat pack.err)"
[ ! -s pack.err ] || fail "packing an unsigned updater said: $(cat pack.err)"
! verifies packed.exe || fail "an unsigned updater verified"

# Signed after its packages are in: the signature holds, the packages are all there.
sign packed.exe signed.exe
verifies signed.exe || fail "the signature does not verify: $(cat signed.exe.verify)"
packages_of packed.exe >packed.packages || fail "the packed updater's packages"
packages_of signed.exe >signed.packages || fail "the signed updater's packages"
grep -qx '238_RAR' signed.packages || fail "no package 238 found: $(cat signed.packages)"
grep -qx 'lActVer: 238' signed.packages || fail "lActVer: $(cat signed.packages)"
grep -q '^238_RAR [0-9]* [0-9a-f]\{64\} checked$' signed.packages ||
    fail "package 238 not checked: $(cat signed.packages)"
cmp -s packed.packages signed.packages || fail "signing changed the packages: $(diff packed.packages signed.packages)"
wine signed.exe --help | tr -d '\r' | grep -q '^tessara-updater ' || fail "the signed updater does not start"

# A signed updater as the base of a new one: packed without the signature, then signed again.
printf 'Rar!\032\007\000 package 239' >239.rar
pack --updater "$(win signed.exe)" --out "$(win repacked.exe)" 238="$(win 238)" \
    239="$(win 239.rar)" 2>repack.err || fail "packing the signed updater: $(cat repack.err)"
grep -q 'signed.exe is signed; .*repacked.exe is written without that signature' repack.err ||
    fail "no word about the signature: $(cat repack.err)"
! verifies repacked.exe || fail "the repacked updater kept a signature"
grep -q 'No signature found' repacked.exe.verify || fail "$(cat repacked.exe.verify)"
sign repacked.exe resigned.exe
verifies resigned.exe || fail "the signature of the repacked updater does not verify: $(cat resigned.exe.verify)"
packages_of resigned.exe >resigned.packages || fail "the re-signed updater's packages"
grep -qx 'lActVer: 238 - 239' resigned.packages || fail "lActVer: $(cat resigned.packages)"
[ "$(grep -c ' checked$' resigned.packages)" = 2 ] || fail "$(cat resigned.packages)"
echo "signed, verified and checked: $(tr '\n' ' ' <resigned.packages)"
