#!/usr/bin/env bash
# valkrin-pack.exe under Wine against the host's valkrin-pack: both pack the
# same small tree (Japanese names, and names without a Shift-JIS form) in
# folder mode with their embedded stubs, and the two files must be
# identical, byte for byte. Then the Windows one is checked on its own: its
# listing, lhasa's test of the archive part, a name without a Shift-JIS form
# on its own, a missing input, a bare install program.
#   wine_pack_test.sh WINDOWS_PACK.exe HOST_PACK WORK_FOLDER
# Exit 77 (skipped) only when there is no Wine at all, or the kernel cannot run it.
set -uo pipefail
windows_pack=$1 host_pack=$2 work=$3

source "$(dirname "$0")/../../tests/scripts/wine_check.sh"
skip_without_wine
fail() {
    echo "FAILED: $*"
    exit 1
}
[ -f "$windows_pack" ] || fail "$windows_pack is missing: build the windows preset first"

# A private prefix; a console program needs no display. LC_ALL gives Wine the
# Japanese code page and UTF-8 file names on the Unix side.
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine() { LC_ALL=ja_JP.UTF-8 command wine "$@"; }
mkdir -p "$work"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    LC_ALL=ja_JP.UTF-8 wineboot -i >"$work/wineboot.log" 2>&1
    wineserver -w
fi
cp "$windows_pack" "$work/valkrin-pack.exe"
wine_pack() { (cd "$work" && wine ./valkrin-pack.exe "$@"); }

echo "== wine valkrin-pack.exe --version"
wine_pack --version | tr -d '\r' | tee "$work/version.txt"
grep -q "^valkrin-pack [0-9.]*$" "$work/version.txt" || fail "no version line"
grep -q "^embedded stub: valkrin.exe, [0-9]* bytes$" "$work/version.txt" || fail "no stub embedded"

# The tree, with fixed times on everything. Access times are stored too, and
# listing a folder would renew its access time; one in the future (beyond
# the change time) is left alone under relatime, the usual mount option.
tree="$work/tree"
rm -rf "$tree" "$work"/*.exe.out
mkdir -p "$tree/docs/表示" "$tree/empty"
printf 'Valkrin\r\n' >"$tree/docs/readme.txt"
seq 1 30000 >"$tree/docs/numbers.txt"
printf 'テスト\r\n' >"$tree/docs/表示/テスト.txt"
printf 'U\r\n' >"$tree/docs/Über_한국어_说明.txt"
head -c 70000 /dev/urandom >"$tree/random.bin"
fix_times() {
    find "$tree" -exec touch -m -d '2021-06-01 12:34:56.5' {} +
    find "$tree" -exec touch -a -d '2037-01-02 03:04:05.25' {} +
}

# Both run in $work, so that both name the inputs alike.
fix_times
(cd "$work" && "$host_pack" -o host.exe.out --title 'テスト製品' --folder 'C:\Apps\テスト' --method lh7 tree/docs \
    tree/empty tree/random.bin) || fail "host valkrin-pack failed"
fix_times
echo "== wine valkrin-pack.exe -o wine.exe.out ... (folder mode, lh7)"
wine_pack -o wine.exe.out --title 'テスト製品' --folder 'C:\Apps\テスト' --method lh7 'tree\docs' tree/empty \
    tree/random.bin || fail "valkrin-pack.exe failed"
cmp "$work/host.exe.out" "$work/wine.exe.out" || fail "the two builders wrote different files"
echo "== identical: $(stat -c %s "$work/wine.exe.out") bytes"

"$host_pack" --list "$work/wine.exe.out" | tee "$work/list.txt"
for name in docs/ docs/表示/テスト.txt docs/Über_한국어_说明.txt docs/numbers.txt empty/ random.bin -lh7-; do
    grep -qF -e "$name" "$work/list.txt" || fail "$name is not listed"
done
offset=$("$host_pack" --inspect "$work/wine.exe.out" | sed -n 's/^archiveOffset *0x[0-9A-F]* (\([0-9]*\))$/\1/p')
[ -n "$offset" ] || fail "no archive offset"
tail -c +"$((offset + 1))" "$work/wine.exe.out" >"$work/archive.lzh"
lhasa tq "$work/archive.lzh" || fail "lhasa finds the archive damaged"

echo "== a name without a Shift-JIS form (once refused) and a missing input"
printf x >"$tree/café"
wine_pack -o cafe.exe.out --folder 'C:\x' tree/café || fail "café was refused"
"$host_pack" --list "$work/cafe.exe.out" | grep -qF " café" || fail "café is not listed"
out=$(wine_pack -o bad.exe.out --folder 'C:\x' tree/missing 2>&1)
status=$?
echo "$out"
[ "$status" -eq 1 ] || fail "exit status $status, not 1"
grep -q "missing" <<<"$out" || fail "no message naming the input"
[ ! -e "$work/bad.exe.out" ] || fail "an output file was left"

echo "== a bare install program"
out=$(wine_pack -o bare.exe.out --run '"setup.exe" /q' tree/docs/readme.txt 2>&1) || fail "refused: $out"
echo "$out"
grep -q "warning" <<<"$out" || fail "no warning"
"$host_pack" --inspect "$work/bare.exe.out" | grep -qF 'command        ""%ExtractDir%\setup.exe" /q"' ||
    fail "the command is not prefixed"
echo "== passed"
