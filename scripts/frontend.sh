#!/usr/bin/env bash
# Starts the web front end on http://127.0.0.1:8420/ (open it in a browser).
# Installs what is missing, builds the simulator when there is none yet,
# then runs frontend/server.js with the options given, for example
#   scripts/frontend.sh --port 9000 --workroot /data/runs
# (node frontend/server.js --help lists them). Ctrl-C ends the front end and
# the run it started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --frontend
build=${BUILD_DIR:-build}
if [[ ! -x "$build/workflow" ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target workflow
fi
exec node frontend/server.js --build "$build" "$@"
