#!/usr/bin/env bash
# Builds a simulator for a net description, the same way as build/workflow:
#
#   scripts/build_net.sh path/to/<name>.net.json      ->  build/nets/<name>
#
# Installs what is missing (scripts/setup.sh), checks the description with the
# generator (a mistake stops here with the generator's message, before any
# compiler runs), configures the project's build directory with
# -DSIM_NET=<description> and builds only that program. BUILD_DIR chooses
# another build directory. The program reads its initial marking from
# "marking.xml" in the directory it runs in (docs/net-format.md).
set -euo pipefail

if [[ $# -ne 1 || "$1" == -* ]]; then
  echo "usage: scripts/build_net.sh <name>.net.json" >&2
  exit 2
fi
if [[ ! -f "$1" ]]; then
  echo "build_net.sh: no such file: $1" >&2
  exit 1
fi
description="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
name="$(basename "$description")"
name="${name%.json}"
name="${name%.net}"
if [[ ! "$name" =~ ^[A-Za-z0-9_-]+$ ]]; then
  echo "build_net.sh: the file name must be <name>.net.json with a name of letters, digits, _ and -" >&2
  exit 1
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
python3 "$root/scripts/generate_net.py" --description "$description" --output-dir "$root/build" --list >/dev/null

build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DSIM_NET="$description" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "net_$name"
echo "Built $build/nets/$name"
