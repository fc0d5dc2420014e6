#!/usr/bin/env bash
# Makes the release files: valkrin-VERSION-win32.zip (valkrin-pack.exe,
# valkrin.exe, README.md) from the windows build and
# valkrin-VERSION-linux.tar.gz (bin/valkrin-pack with the stub inside,
# share/doc/valkrin/README.md) from an optimised host build without
# sanitizers. Both land in build/release. SOURCE_DATE_EPOCH, when set, is
# passed on; see the README for what is reproducible.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j "$jobs" --target valkrin-pack
mkdir -p build/release
(cd build/windows && cpack -B "$PWD/../release" >/dev/null)
(cd build/host-release && cpack -B "$PWD/../release" >/dev/null)
# The same files without archives: cmake --install --prefix DIR.
ls -l build/release/*.zip build/release/*.tar.gz
