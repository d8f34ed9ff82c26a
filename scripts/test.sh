#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. The tests
# start (and stop) their own private MariaDB server under the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIM_BUILD_TESTS=ON
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
