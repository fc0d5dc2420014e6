#!/bin/sh
# One entry of more than 4 GiB, its sizes in the large-size extended header:
# valkrin-pack packs it (-lh5-), valkrin-host extracts it, and the file comes
# out with its size and contents, the window's progress ending at exactly
# 100% and never past it.
#
#   large_entry.sh VALKRIN_PACK VALKRIN_HOST [WORK_FOLDER]
#
# The source is a sparse file with marked stretches at the start, across the
# 4 GiB line and at the end; the extracted copy takes a little over 4 GiB of
# real disk space for the length of the run, and the work folder is removed
# afterwards.
set -eu
pack=$1
host=$2
work=${3:-${TMPDIR:-/tmp}/valkrin-large-entry.$$}
rm -rf "$work"
mkdir -p "$work/source"
trap 'rm -rf "$work"' EXIT INT TERM

mib=1048576
size=$((4096 * mib + 3 * mib + 7))
big="$work/source/big.bin"
truncate -s "$size" "$big"
mark() {  # mark OFFSET BYTES: a recognisable stretch at OFFSET
    yes "valkrin large entry at $1" | head -c "$2" |
        dd of="$big" bs=65536 seek="$1" oflag=seek_bytes conv=notrunc status=none
}
mark 0 "$mib"
mark $((4096 * mib - mib / 2)) "$mib"
mark $((size - mib - 7)) $((mib + 7))

free=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free" -lt $((size / 1024 + 1048576)) ]; then
    echo "not enough free space in $work for a copy of $size bytes" >&2
    exit 1
fi

(cd "$work/source" && "$pack" -o "$work/big.exe" --no-confirm --folder "$work/out" --method lh5 big.bin)
listed=$("$pack" --list "$work/big.exe")
echo "$listed"
echo "$listed" | grep -q "$size" || { echo "the listing does not show $size bytes" >&2; exit 1; }

start=$(date +%s)
status=0
"$host" "$work/big.exe" 2> "$work/progress.txt" || status=$?
echo "extraction: $(($(date +%s) - start)) s, exit $status"
[ "$status" -eq 1 ] || { echo "valkrin-host exited with $status, not 1 (success)" >&2; cat "$work/progress.txt" >&2; exit 1; }

got=$(stat -c %s "$work/out/big.bin")
[ "$got" -eq "$size" ] || { echo "extracted $got bytes, not $size" >&2; exit 1; }
cmp "$big" "$work/out/big.bin"
percents=$(grep -o '^[0-9]*%$' "$work/progress.txt" | tr '\n' ' ')
echo "progress: $percents"
last=$(grep -o '^[0-9]*%$' "$work/progress.txt" | tail -n 1)
[ "$last" = "100%" ] || { echo "the progress ended at $last" >&2; exit 1; }
grep -o '^[0-9]*%$' "$work/progress.txt" | tr -d % | awk '
    $1 < last || $1 > 100 { print "progress went from " last "% to " $1 "%" > "/dev/stderr"; bad = 1 }
    { last = $1 }
    END { exit bad }'
echo "ok: $size bytes extracted and compared"
