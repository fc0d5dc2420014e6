#!/usr/bin/env bash
# The publisher's icon and version information checked by other tools: an
# icon of four sizes made here (the 256-pixel one PNG-compressed) must come
# back from wrestool byte for byte, the version information must equal what
# windres makes of the same fields, and lhasa and 7-Zip must find the
# package's archive intact.
#   resources_peer_test.sh WINDOWS_BUILD_DIR HOST_PACK WORK_FOLDER
# Exit 77 (skipped) only when ImageMagick, icoutils or the tools are missing.
set -uo pipefail
windows=$1 pack=$2 work=$3
for tool in convert wrestool lhasa 7z python3 i686-w64-mingw32-windres i686-w64-mingw32-gcc; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
fail() {
    echo "FAILED: $*"
    exit 1
}
rm -rf "$work"
mkdir -p "$work/tree/docs" "$work/raw"
source "$(dirname "$0")/resources_common.sh"
make_icon "$work/app.ico"
make_package "$work" "$pack"

# wrestool (icoutils 0.32) writes the .ico and then as many bytes more as
# the group resource holds, left over from its buffers; it does so for
# windres's groups too (checked on the stub), so only those are allowed.
# compare_ico INPUT.ico EXTRACTED.ico GROUP_BYTES
compare_ico() {
    local size
    size=$(stat -c %s "$1")
    cmp -n "$size" "$1" "$2" || return 1
    [ "$(stat -c %s "$2")" -eq $((size + $3)) ]
}
echo "== wrestool: the icon group and every image as given"
wrestool -x --type=14 -o "$work/back.ico" "$work/setup.exe" || fail "wrestool found no icon group"
wrestool -x --raw --type=14 -o "$work/group.bin" "$work/setup.exe" || fail "no raw icon group"
compare_ico "$work/app.ico" "$work/back.ico" "$(stat -c %s "$work/group.bin")" ||
    fail "the icon group does not give back the .ico"
if [ -f "$windows/valkrin.exe" ] && [ -f "$(dirname "$0")/../../src/res/valkrin.ico" ]; then
    wrestool -x --type=14 -o "$work/stub.ico" "$windows/valkrin.exe"
    wrestool -x --raw --type=14 -o "$work/stub-group.bin" "$windows/valkrin.exe"
    compare_ico "$(dirname "$0")/../../src/res/valkrin.ico" "$work/stub.ico" "$(stat -c %s "$work/stub-group.bin")" ||
        fail "wrestool does not treat windres's icon group as assumed"
fi
wrestool -x --raw --type=3 -o "$work/raw" "$work/setup.exe" || fail "wrestool found no icons"
python3 - "$work/app.ico" "$work/raw" <<'PY' || fail "an icon image differs"
import os, struct, sys
data = open(sys.argv[1], 'rb').read()
count = struct.unpack_from('<H', data, 4)[0]
images = []
for i in range(count):
    size, offset = struct.unpack_from('<II', data, 6 + 16 * i + 8)
    images.append(data[offset:offset + size])
found = [open(os.path.join(sys.argv[2], n), 'rb').read() for n in sorted(os.listdir(sys.argv[2]))]
print(len(found), 'icons, the same bytes as the', count, 'images:', sorted(found) == sorted(images))
sys.exit(0 if sorted(found) == sorted(images) and len(found) == count else 1)
PY

echo "== the version information is what windres makes of the same fields"
cat >"$work/version.rc" <<'RC'
#pragma code_page(65001)
#include <windows.h>
LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT
VS_VERSION_INFO VERSIONINFO
FILEVERSION 1, 5, 0, 7
PRODUCTVERSION 1, 5, 0, 7
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS__WINDOWS32
FILETYPE VFT_APP
FILESUBTYPE VFT2_UNKNOWN
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "041103A4"
        BEGIN
            VALUE "CompanyName", "株式会社テスト"
            VALUE "FileDescription", "リソース試験"
            VALUE "FileVersion", "1.5.0.7"
            VALUE "LegalCopyright", "(C) 2026 テスト"
            VALUE "ProductName", "テスト製品 Ｖ"
            VALUE "ProductVersion", "1.5 ベータ"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x0411, 932
    END
END
RC
i686-w64-mingw32-windres "$work/version.rc" -O coff -o "$work/version.o" || fail "windres"
i686-w64-mingw32-gcc -nostdlib -Wl,--entry=0 "$work/version.o" -o "$work/version.exe" || fail "link"
wrestool -x --raw --type=16 -o "$work/windres.bin" "$work/version.exe" || fail "no version in windres's file"
wrestool -x --raw --type=16 -o "$work/ours.bin" "$work/setup.exe" || fail "no version in the package"
cmp "$work/windres.bin" "$work/ours.bin" || fail "the version information differs from windres's"

echo "== lhasa and 7-Zip test the archive"
offset=$("$pack" --inspect "$work/setup.exe" | sed -n 's/^archiveOffset *0x[0-9A-F]* (\([0-9]*\))$/\1/p')
[ -n "$offset" ] || fail "no archive offset"
tail -c +"$((offset + 1))" "$work/setup.exe" >"$work/archive.lzh"
lhasa t "$work/archive.lzh" || fail "lhasa finds the archive damaged"
7z t "$work/archive.lzh" >"$work/7z.log" || { cat "$work/7z.log"; fail "7z finds the archive damaged"; }
echo "== passed"
