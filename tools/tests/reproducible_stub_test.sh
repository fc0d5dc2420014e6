#!/usr/bin/env bash
# The stub builds reproducibly: the sources copied into two folders of
# different names and depths, each configured and built on its own with the
# windows toolchain (no compiler cache), must give the same valkrin.exe.
#   reproducible_stub_test.sh SOURCE_DIR WORK_FOLDER
set -uo pipefail
source=$1 work=$2
fail() {
    echo "FAILED: $*"
    exit 1
}
command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || { echo "no MinGW-w64: skipped"; exit 77; }
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
rm -rf "$work"
one="$work/one/src" two="$work/another/deeper folder/valkrin"
for tree in "$one" "$two"; do
    mkdir -p "$tree/tests/e2e"
    cp -r "$source/CMakeLists.txt" "$source/README.md" "$source/cmake" "$source/src" "$source/tools" "$source/samples" \
          "$source/bench" "$tree/" ||
        fail "cannot copy the sources"
    cp -r "$source/tests/e2e/ui_driver" "$source/tests/e2e/version_probe" "$tree/tests/e2e/"
    cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >"$tree.configure.log" 2>&1 || { cat "$tree.configure.log"; fail "configure"; }
    cmake --build "$tree/build" --target valkrin -j 2 >"$tree.build.log" 2>&1 || { cat "$tree.build.log"; fail "build"; }
done
a=$(sha256sum <"$one/build/valkrin.exe" | cut -d' ' -f1)
b=$(sha256sum <"$two/build/valkrin.exe" | cut -d' ' -f1)
echo "$one/build/valkrin.exe: $a"
echo "$two/build/valkrin.exe: $b"
[ "$a" = "$b" ] || fail "the two builds differ"
# TimeDateStamp of the COFF header (the PE header is at 0x408).
stamp=$(od -An -tu4 -j $((0x408 + 8)) -N4 "$one/build/valkrin.exe" | tr -d ' ')
[ "$stamp" = 0 ] || fail "the PE header has the time stamp $stamp"
rm -rf "$work"
echo "== passed"
