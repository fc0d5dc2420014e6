# Shared by the resource tests: the icon and the package they check.

# make_icon OUT.ico: 256, 48, 32 and 16 pixels, the 256 one PNG-compressed.
make_icon() {
    convert -size 256x256 gradient:navy-gold -fill white -draw 'circle 128,128 128,40' \
        -define icon:auto-resize=256,48,32,16 "$1" || fail "convert could not make the icon"
    python3 - "$1" <<'PY' || fail "the icon is not the one the test needs"
import struct, sys
data = open(sys.argv[1], 'rb').read()
count = struct.unpack_from('<H', data, 4)[0]
sizes, png = [], False
for i in range(count):
    w, h, _, _, _, _, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
    sizes.append(w or 256)
    png |= data[offset:offset + 8] == b'\x89PNG\r\n\x1a\n' and w == 0
print('icon sizes', sizes, '; the 256 one is PNG:', png)
sys.exit(0 if sorted(sizes) == [16, 32, 48, 256] and png else 1)
PY
}

# make_package WORK PACK: WORK/setup.exe, folder mode into C:\valkrin-resources,
# of WORK/tree, with WORK/app.ico and Japanese version texts.
make_package() {
    printf 'Valkrin resource test\r\n' >"$1/tree/docs/readme.txt"
    seq 1 20000 >"$1/tree/numbers.txt"
    "$2" -o "$1/setup.exe" --title 'リソース試験' --folder 'C:\valkrin-resources' --no-confirm --method lh7 \
        --icon "$1/app.ico" --product-name 'テスト製品 Ｖ' --product-version '1.5 ベータ' --file-version 1.5.0.7 \
        --company '株式会社テスト' --copyright '(C) 2026 テスト' "$1/tree/docs" "$1/tree/numbers.txt" ||
        fail "valkrin-pack failed"
    "$2" --inspect "$1/setup.exe"
}
