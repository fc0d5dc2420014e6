#!/usr/bin/env bash
# Reproducible packages: the same tree, made twice in opposite orders (on
# tmpfs, which lists a folder newest first) and touched in between, packed
# with SOURCE_DATE_EPOCH, must give the same SHA-256.
#   reproducible_test.sh HOST_PACK WORK_FOLDER
set -uo pipefail
pack=$1 work=$2
fail() {
    echo "FAILED: $*"
    exit 1
}
# tmpfs where there is one: its listing order follows creation, not names.
base=$work
[ -d /dev/shm ] && [ -w /dev/shm ] && base=$(mktemp -d /dev/shm/valkrin-repro.XXXXXX)
trap '[ "$base" != "$work" ] && rm -rf "$base"' EXIT
mkdir -p "$work"

names=(alpha.txt beta.bin 'gamma 3.txt' 表示.txt zeta.dat)
# make_tree FOLDER ORDER...: the files and folders in the order given.
make_tree() {
    local tree=$1
    shift
    rm -rf "$tree"
    mkdir -p "$tree"
    for i in "$@"; do
        mkdir -p "$tree/d$i"
        printf 'file %s\r\n' "${names[$i]}" >"$tree/d$i/${names[$i]}"
        seq 1 $((i * 3000 + 1)) >"$tree/${names[$i]}"
    done
}
epoch=1700000000
run() { SOURCE_DATE_EPOCH=$epoch "$pack" -o "$1" --title 'テスト' --folder 'C:\x' --method lh7 "$base/tree" ||
    fail "valkrin-pack failed"; }

make_tree "$base/tree" 0 1 2 3 4
first_order=$(ls -f "$base/tree" | tr '\n' ' ')
run "$work/first.exe"
sleep 1
make_tree "$base/tree" 4 3 2 1 0
second_order=$(ls -f "$base/tree" | tr '\n' ' ')
sleep 1
find "$base/tree" -exec touch {} +
run "$work/second.exe"
echo "listed first as:  $first_order"
echo "listed second as: $second_order"
if [ "$base" != "$work" ] && [ "$first_order" = "$second_order" ]; then
    fail "tmpfs listed both trees alike: the test would not see an unsorted walk"
fi
a=$(sha256sum <"$work/first.exe" | cut -d' ' -f1)
b=$(sha256sum <"$work/second.exe" | cut -d' ' -f1)
echo "first  $a"
echo "second $b"
[ "$a" = "$b" ] || fail "the two packages differ"
"$pack" --list "$work/second.exe" | grep -q '2023-11-14' || fail "the entry times are not those of SOURCE_DATE_EPOCH"
echo "== passed"
