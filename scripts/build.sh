#!/usr/bin/env bash
# Configures and builds both builds: the product (build/windows) and the
# host build with its tests and tools (build/host). The windows build comes
# first: the host build's valkrin-pack carries its valkrin.exe inside.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
