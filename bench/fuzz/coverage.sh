#!/bin/sh
# Line coverage of the stub's sources from one replay of the committed fuzz
# corpora (tests/fuzz/corpus/*): a gcc build with --coverage of the five
# replay programs, each run once over its corpus, then gcov per source file.
# Prints a Markdown table: every file below src/ but the host platform layer,
# lines run and lines in all, per file, per folder and in total.
#
#   bench/fuzz/coverage.sh [BUILD_FOLDER]     (default build/coverage)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/coverage}
targets="header decode names expand run"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVALKRIN_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j 2 --target $(for t in $targets; do printf 'fuzz-%s-replay ' "$t"; done) >/dev/null
find "$build" -name '*.gcda' -delete
for t in $targets; do
    "$build/tests/fuzz/fuzz-$t-replay" "$root/tests/fuzz/corpus/$t" >/dev/null 2>&1 ||
        echo "fuzz-$t-replay failed" >&2
done

objects="$build/CMakeFiles/valkrin_core.dir"
report=$(mktemp)
trap 'rm -f "$report"' EXIT
(cd "$build" && find "$objects/src" -name '*.gcda' | while read -r data; do
    gcov -n -o "$(dirname "$data")" "$data" 2>/dev/null
done) > "$report"

# gcov -n prints "File 'PATH'" and "Lines executed:P% of N" per source.
echo "| file | lines run | lines | % |"
echo "|---|---:|---:|---:|"
awk -v root="$root/" '
    /^File / { file = $2; gsub(/\047/, "", file); sub(root, "", file); next }
    /^Lines executed:/ && file ~ /^src\// && file !~ /^src\/platform\// && !(file in seen) {
        split($2, part, "%"); sub(/^executed:/, "", part[1]); total = $4
        run = int(part[1] * total / 100 + 0.5)
        seen[file] = 1; lines[file] = total; hit[file] = run
        folder = file; sub(/\/[^\/]*$/, "/", folder)
        folderLines[folder] += total; folderHit[folder] += run
        allLines += total; allHit += run
        file = ""
    }
    END {
        for (f in seen) printf "1 %s | %d | %d | %.1f |\n", f, hit[f], lines[f], 100 * hit[f] / lines[f]
        for (f in folderLines)
            printf "2 **%s** | %d | %d | %.1f |\n", f, folderHit[f], folderLines[f], 100 * folderHit[f] / folderLines[f]
        printf "3 **all** | %d | %d | %.1f |\n", allHit, allLines, 100 * allHit / allLines
    }' "$report" | sort -k1,1n -k2,2 | sed 's/^[0-9] /| /'
