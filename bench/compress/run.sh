#!/bin/sh
# Compressed size and speed of our LZH writer, by default and with --best,
# against jlha (-lh5-, -lh6-, -lh7-) on the same corpora in the same run,
# the three taking turns. Prints a Markdown table; sizes and speeds are also
# given as ratios to jlha's.
#
#   bench/compress/run.sh [VALKRIN_LZH] [WORK_FOLDER]
#
# VALKRIN_LZH defaults to the release build (cmake --preset host-release -B
# build/lzh-release; cmake --build build/lzh-release --target valkrin-lzh
# lzh-decode-check).
# REPEAT=n takes the best of n timings of each run (default 1); CORPORA and
# METHODS (5 6 7) pick rows; BEST=0 leaves --best out (it takes minutes a row). Speeds are original megabytes (10^6 bytes) per
# wall-clock second; jlha's include the start of its Java VM. Every archive
# of ours is checked with lhasa t, 7z t and our decoder (lzh-decode-check,
# built beside valkrin-lzh).
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
ours=${1:-$root/build/lzh-release/tools/lzh/valkrin-lzh}
work=${2:-${TMPDIR:-/tmp}/valkrin-bench-compress}
repeat=${REPEAT:-1}
[ -x "$ours" ] || { echo "no valkrin-lzh at $ours (build the host-release preset)" >&2; exit 2; }
command -v jlha >/dev/null || { echo "jlha is not installed" >&2; exit 2; }
mkdir -p "$work/corpora" "$work/out"
cd "$work"

# Corpora, made once and kept between runs.
mib=1048576
if [ ! -f corpora/text ]; then
    find /usr/include -type f -name '*.h' | LC_ALL=C sort | xargs cat | head -c $((16 * mib)) > corpora/text
fi
if [ ! -f corpora/binary ]; then
    find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +64k | LC_ALL=C sort | xargs cat |
        head -c $((16 * mib)) > corpora/binary
fi
if [ ! -d corpora/tree ]; then
    mkdir -p corpora/tree && cp -r /usr/share/i18n corpora/tree/
fi
if [ ! -f corpora/random ]; then
    python3 -c "import random,sys; random.seed(7); sys.stdout.buffer.write(random.randbytes(8 * $mib))" > corpora/random
fi
if [ ! -f corpora/logs ]; then
    python3 - <<'PY' > corpora/logs
import random, sys
random.seed(11)
hosts = ["alpha", "bravo", "charlie", "delta"]
words = ["GET", "POST", "/index.html", "/api/v1/items", "/static/app.js", "200", "404", "301", "500"]
out = []
size = 0
t = 1700000000
while size < 16 * 1048576:
    t += random.randint(0, 3)
    line = "%d %s.example %s %s %s %d\n" % (t, random.choice(hosts), random.choice(words[:2]),
                                            random.choice(words[2:5]), random.choice(words[5:]),
                                            random.randint(100, 99999))
    out.append(line)
    size += len(line)
sys.stdout.write("".join(out))
PY
fi

now() { date +%s.%N; }
# Wall-clock seconds of one run of "$@".
seconds() {
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    echo "$end - $start" | bc -l
}
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
size_of() { du -sb "$1" | cut -f1; }
# Every archive must pass both peers' tests and give every file back
# through our own decoder.
decode_check=$(dirname "$ours")/lzh-decode-check
[ -x "$decode_check" ] || { echo "no lzh-decode-check beside $ours" >&2; exit 2; }
check() {
    lhasa t "$1" >/dev/null 2>&1 || { echo "lhasa t failed on $1 ($2)" >&2; exit 1; }
    7z t "$1" >/dev/null 2>&1 || { echo "7z t failed on $1 ($2)" >&2; exit 1; }
    rm -rf out/decoded && mkdir out/decoded
    "$decode_check" "$1" corpora out/decoded >/dev/null || { echo "our decoder failed on $1 ($2)" >&2; exit 1; }
}

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| corpus | original | method | jlha bytes | jlha MB/s | default bytes | default MB/s | --best bytes | --best MB/s | default size | default speed | --best size | --best speed |"
echo "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for corpus in ${CORPORA:-text binary tree logs random}; do
    original=$(size_of "corpora/$corpus")
    for m in ${METHODS:-5 6 7}; do
        rm -f out/jlha.lzh out/ours.lzh out/best.lzh
        # The three tools take turns, so that each meets the same load.
        tj="" to="" tb=""
        i=0
        while [ $i -lt "$repeat" ]; do
            rm -f out/jlha.lzh
            tj=$(min "$tj" "$(cd corpora && seconds jlha c2o$m ../out/jlha.lzh "$corpus")")
            to=$(min "$to" "$(cd corpora && seconds "$ours" -m lh$m -o ../out/ours.lzh "$corpus")")
            if [ "${BEST:-1}" = 1 ]; then
                tb=$(min "$tb" "$(cd corpora && seconds "$ours" --best -m lh$m -o ../out/best.lzh "$corpus")")
            fi
            i=$((i + 1))
        done
        check out/ours.lzh "$corpus, lh$m"
        sj=$(size_of out/jlha.lzh)
        so=$(size_of out/ours.lzh)
        if [ "${BEST:-1}" = 1 ]; then
            check out/best.lzh "$corpus, lh$m, --best"
            sb=$(size_of out/best.lzh)
        else
            sb=0 tb=0
        fi
        echo "$corpus $original lh$m $sj $tj $so $to $sb $tb" | awk '{
            mbj = $2 / 1e6 / $5; mbo = $2 / 1e6 / $7;
            if ($9 == 0) {
                printf "| %s | %d | -%s- | %d | %.1f | %d | %.1f | - | - | %.3f | %.1fx | - | - |\n",
                       $1, $2, $3, $4, mbj, $6, mbo, $6 / $4, mbo / mbj
            } else {
                mbb = $2 / 1e6 / $9;
                printf "| %s | %d | -%s- | %d | %.1f | %d | %.1f | %d | %.2f | %.3f | %.1fx | %.3f | %.2fx |\n",
                       $1, $2, $3, $4, mbj, $6, mbo, $8, mbb, $6 / $4, mbo / mbj, $8 / $4, mbb / mbj
            }
        }'
    done
done
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
