#!/usr/bin/env bash
# Training workload of the profile-guided build:
#   pgo_train.sh PROGRAM PROFILE_DIR STAMP MARKING
# Runs the instrumented PROGRAM in the three simulation modes on the bundled
# MARKING, so that the profile in PROFILE_DIR covers the event loop and the
# run loops, and touches STAMP. Does nothing when STAMP is newer than PROGRAM
# (the profile belongs to it already).
set -euo pipefail
program=$1
profile=$2
stamp=$3
marking=$4

if [[ -f "$stamp" && "$stamp" -nt "$program" ]]; then
    exit 0
fi
rm -rf "$profile"
mkdir -p "$profile"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$marking" "$work/marking.xml"
cd "$work"
# Seeds other than those of the benchmark and the tests.
"$program" -p --fcount 300000 --lcount 1 --seed 7 >/dev/null
"$program" -S --mstart 0 --mstop 0 --confidence 95 --epsmax 5 --secmax 60 --seed 8 >/dev/null
"$program" -T --mstart 0 --mstop 20 --nofsampling 5 --confidence 90 --epsmax 30 --secmax 60 --seed 9 >/dev/null
touch "$stamp"
