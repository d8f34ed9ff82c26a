#!/usr/bin/env bash
# Installs the Debian packages the project needs. Safe to run again: only
# missing packages are installed, and the package lists are refreshed only
# when a package is not known yet.
#   scripts/setup.sh          what the build needs (the default build also
#                             compiles the tests and benchmarks)
#   scripts/setup.sh --test   also what running the tests needs (MariaDB server)
set -euo pipefail

packages=(g++ cmake make python3 libxerces-c-dev libtclap-dev unixodbc unixodbc-dev odbc-mariadb
          libgtest-dev googletest libbenchmark-dev)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(mariadb-server mariadb-client)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
if ! $SUDO apt-get install -y -q "${missing[@]}"; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q "${missing[@]}"
fi
