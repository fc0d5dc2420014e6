#!/usr/bin/env bash
# The publisher's version texts as Windows programs read them: version-probe.exe
# calls GetFileVersionInfoA and VerQueryValueA on a package under Wine (code
# page 932); the package with its new icon and version must still extract.
#   wine_resources_test.sh WINDOWS_BUILD_DIR HOST_PACK WORK_FOLDER
# Exit 77 (skipped) when Wine or ImageMagick is missing, or Wine cannot start
# a 32-bit program on this machine.
set -uo pipefail
windows=$1 pack=$2 work=$3
source "$(dirname "$0")/../../tests/scripts/wine_check.sh"
skip_without_wine
for tool in xvfb-run convert python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
fail() {
    echo "FAILED: $*"
    exit 1
}
[ -f "$windows/version-probe.exe" ] || fail "$windows/version-probe.exe is missing: build the windows preset first"
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work/tree" "$work"/*.exe "$work"/*.txt
mkdir -p "$work/tree/docs"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    LC_ALL=ja_JP.UTF-8 wineboot -i >"$work/wineboot.log" 2>&1
    wineserver -w
fi
source "$(dirname "$0")/resources_common.sh"
make_icon "$work/app.ico"
make_package "$work" "$pack"

echo "== the version texts through GetFileVersionInfoA and VerQueryValueA"
cp "$windows/version-probe.exe" "$work/"
(cd "$work" && LC_ALL=ja_JP.UTF-8 wine ./version-probe.exe probe.txt setup.exe ProductName ProductVersion \
    FileVersion CompanyName FileDescription LegalCopyright) || fail "version-probe failed"
iconv -f CP932 -t UTF-8 "$work/probe.txt" | tr -d '\r' >"$work/probe-utf8.txt" || fail "the texts are not Shift-JIS"
cat "$work/probe-utf8.txt"
cat >"$work/expected.txt" <<'TXT'
Translation=041103A4
FixedFileVersion=1.5.0.7
FixedProductVersion=1.5.0.7
ProductName=テスト製品 Ｖ
ProductVersion=1.5 ベータ
FileVersion=1.5.0.7
CompanyName=株式会社テスト
FileDescription=リソース試験
LegalCopyright=(C) 2026 テスト
TXT
diff "$work/expected.txt" "$work/probe-utf8.txt" || fail "the version texts read back differ"

echo "== the package extracts under Wine"
# The probe ran without a display: let its Wine server end, or the package
# would join a desktop that cannot open windows.
wineserver -w
rm -rf "$WINEPREFIX/drive_c/valkrin-resources"
LC_ALL=ja_JP.UTF-8 timeout 180 xvfb-run -a wine "$work/setup.exe" >"$work/run.log" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "exit code $status, not 1 (both passes succeeded)"
out="$WINEPREFIX/drive_c/valkrin-resources"
cmp "$work/tree/docs/readme.txt" "$out/docs/readme.txt" || fail "docs/readme.txt differs"
cmp "$work/tree/numbers.txt" "$out/numbers.txt" || fail "numbers.txt differs"
echo "== passed"
