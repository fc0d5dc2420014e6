#!/usr/bin/env bash
# Fuzzing campaign: builds the fuzz preset and runs libFuzzer targets for a
# given time each, from the committed seed corpus into a work corpus under
# build/fuzz/campaign, then adds one line per target to bench/fuzz/results.md
# (seconds, executions, findings).
#
#   bench/fuzz/campaign.sh [-t SECONDS] [-p PARALLEL] [TARGET...]
#
# Without targets every target of tests/fuzz runs. -t is the time per target
# (default 1800), -p how many targets run at once (default 1, at most 2).
# A finding (crash, leak, time-out, out-of-memory) stops its target; its
# input is kept in build/fuzz/campaign/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

seconds=1800
parallel=1
while getopts "t:p:" option; do
    case $option in
        t) seconds=$OPTARG ;;
        p) parallel=$OPTARG ;;
        *) echo "usage: $0 [-t SECONDS] [-p PARALLEL] [TARGET...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ "$parallel" -gt 2 ]; then parallel=2; fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=($(sed -n 's/^set(FUZZ_TARGETS \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt))
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target $(printf 'fuzz-%s ' "${targets[@]}")

work=$root/build/fuzz/campaign
commit=$(git rev-parse --short HEAD)  # the sources the targets were built from
results=$root/bench/fuzz/results.md

run_target() {
    local target=$1
    local dir=$work/$target
    mkdir -p "$dir/corpus"
    rm -f "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*
    local dict=()
    if [ -f "tests/fuzz/$target.dict" ]; then dict=(-dict="tests/fuzz/$target.dict"); fi
    local start=$(date +%s)
    "$root/build/fuzz/tests/fuzz/fuzz-$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/" "${dict[@]}" \
        "$dir/corpus" "tests/fuzz/corpus/$target" >"$dir/log.txt" 2>&1 || true
    local end=$(date +%s)
    local executions
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
    local findings
    findings=$(find "$dir" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    echo "$target $((end - start)) ${executions:-0} $findings" >"$dir/summary.txt"
}

# Runs the targets, at most $parallel at a time.
running=0
for target in "${targets[@]}"; do
    echo "running $target for $seconds s"
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

if [ ! -f "$results" ]; then
    cat >"$results" <<'HEADER'
# Fuzzing campaign results

Each line is one run of bench/fuzz/campaign.sh for one target: libFuzzer
with -timeout=10 -rss_limit_mb=2048, ASan and UBSan, from the seed corpus
into a work corpus. Executions are libFuzzer's stat::number_of_executed_units;
findings count the crash, leak, time-out and out-of-memory inputs kept.

| date | commit | target | seconds | executions | findings |
|------|--------|--------|---------|------------|----------|
HEADER
fi
for target in "${targets[@]}"; do
    read -r name took executions findings <"$work/$target/summary.txt"
    echo "| $(date -u +%Y-%m-%d) | $commit | $name | $took | $executions | $findings |" >>"$results"
    echo "$name: $took s, $executions executions, $findings findings"
done
