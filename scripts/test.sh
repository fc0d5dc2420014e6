#!/usr/bin/env bash
# Sets up the machine, builds both builds and runs every test: unit and flow
# tests on the host, interop tests against Debian's LZH tools, short fuzz
# runs, and the end-to-end tests of the real executable under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
ctest --preset host --timeout 900 "$@"
