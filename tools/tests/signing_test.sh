#!/usr/bin/env bash
# Signing a package: osslsigncode signs it with a certificate made here, the
# signature verifies, valkrin-pack still lists and inspects the signed file,
# and a signed stub is refused. With "wine" the signed package also runs
# under Wine and must extract.
#   signing_test.sh WINDOWS_BUILD_DIR HOST_PACK WORK_FOLDER [wine]
# Exit 77 (skipped) when osslsigncode or openssl is missing, or for "wine"
# when Wine is missing or cannot start a 32-bit program on this machine.
set -uo pipefail
windows=$1 pack=$2 work=$3 mode=${4:-}

source "$(dirname "$0")/../../tests/scripts/wine_check.sh"
tools=(osslsigncode openssl)
[ "$mode" = wine ] && skip_without_wine && tools+=(xvfb-run)
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
fail() {
    echo "FAILED: $*"
    exit 1
}
[ -f "$windows/valkrin.exe" ] || fail "$windows/valkrin.exe is missing: build the windows preset first"
rm -rf "$work/tree" "$work"/*.exe "$work"/*.pem
mkdir -p "$work/tree"

echo "== a test certificate for code signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Valkrin Test Publisher' \
    -addext 'extendedKeyUsage=codeSigning' -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" ||
    { cat "$work/openssl.log"; fail "openssl could not make the certificate"; }
sign() { osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n 'Valkrin test' -in "$1" -out "$2"; }

printf 'signed payload\r\n' >"$work/tree/readme.txt"
seq 1 30000 >"$work/tree/numbers.txt"
"$pack" -o "$work/setup.exe" --title '署名試験' --folder 'C:\valkrin-signed' --no-confirm "$work/tree" ||
    fail "valkrin-pack failed"
echo "== sign last, then verify"
sign "$work/setup.exe" "$work/signed.exe" || fail "osslsigncode could not sign"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "the signature does not verify"; }
grep -q 'Signature verification: ok' "$work/verify.log" || { cat "$work/verify.log"; fail "no verdict"; }

echo "== --inspect and --list read the signed file"
"$pack" --inspect "$work/signed.exe" | tee "$work/inspect.txt" || fail "--inspect refused the signed file"
grep -q 'title          "署名試験"' "$work/inspect.txt" || fail "the block is not shown"
"$pack" --list "$work/signed.exe" | tee "$work/list.txt" || fail "--list refused the signed file"
grep -q 'tree/numbers.txt' "$work/list.txt" || fail "the entries are not listed"

echo "== a signed stub is refused"
sign "$windows/valkrin.exe" "$work/signed-stub.exe" || fail "osslsigncode could not sign the stub"
out=$("$pack" -o "$work/never.exe" --stub "$work/signed-stub.exe" --folder 'C:\x' "$work/tree" 2>&1)
status=$?
echo "$out"
[ "$status" -eq 1 ] || fail "exit status $status, not 1"
grep -q 'it is signed' <<<"$out" || fail "no message about the signature"
[ ! -e "$work/never.exe" ] || fail "an output file was left"

if [ "$mode" = wine ]; then
    echo "== the signed package runs under Wine"
    export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        LC_ALL=ja_JP.UTF-8 wineboot -i >"$work/wineboot.log" 2>&1
        wineserver -w
    fi
    rm -rf "$WINEPREFIX/drive_c/valkrin-signed"
    LC_ALL=ja_JP.UTF-8 timeout 180 xvfb-run -a wine "$work/signed.exe" >"$work/run.log" 2>&1
    status=$?
    [ "$status" -eq 1 ] || fail "exit code $status, not 1 (both passes succeeded)"
    cmp "$work/tree/numbers.txt" "$WINEPREFIX/drive_c/valkrin-signed/tree/numbers.txt" || fail "numbers.txt differs"
fi
echo "== passed"
