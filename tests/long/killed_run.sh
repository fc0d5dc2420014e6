#!/bin/sh
# A run killed half-way through extracting: its numbered folder stays, with
# the files so far, and the next run takes the next number and works. (The
# folder is given on the command line: a bare path would read as a switch,
# so -n comes first.)
#
#   killed_run.sh VALKRIN_PACK VALKRIN_HOST [WORK_FOLDER]
set -eu
pack=$1
host=$2
work=${3:-${TMPDIR:-/tmp}/valkrin-killed-run.$$}
rm -rf "$work"
mkdir -p "$work/source" "$work/base"
trap 'rm -rf "$work"' EXIT INT TERM

printf 'pwd > "$1"\n' > "$work/source/setup.sh"
head -c 100000000 /dev/zero > "$work/source/big.bin"  # long enough to be caught writing
(cd "$work/source" && "$pack" -o "$work/setup.exe" --no-confirm --method lh5 \
    --keep-bare-command --run "sh %ExtractDir%/setup.sh $work/ran.txt" setup.sh big.bin)

"$host" "$work/setup.exe" -n "$work/base" 2>/dev/null &
run=$!
for _ in $(seq 600); do
    [ -s "$work/base/valkrin.000/big.bin" ] && break
    sleep 0.05
done
kill -KILL "$run"
wait "$run" 2>/dev/null || true
[ -f "$work/base/valkrin.000/setup.sh" ] || { echo "the killed run never wrote" >&2; exit 1; }
left=$(stat -c %s "$work/base/valkrin.000/big.bin")
[ "$left" -lt 100000000 ] || { echo "the run ended before it was killed" >&2; exit 1; }
echo "killed with $left of 100000000 bytes written"

status=0
"$host" "$work/setup.exe" -n "$work/base" 2>/dev/null || status=$?
[ "$status" -eq 1 ] || { echo "the next run exited with $status" >&2; exit 1; }
[ "$(cat "$work/ran.txt")" = "$work/base/valkrin.001" ] || { echo "ran in $(cat "$work/ran.txt")" >&2; exit 1; }
[ "$(ls "$work/base")" = "valkrin.000" ] || { echo "left: $(ls "$work/base")" >&2; exit 1; }
echo "ok: the next run used valkrin.001 and removed it; valkrin.000 stays"
