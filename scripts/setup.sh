#!/usr/bin/env bash
# Installs the Debian packages the project needs. Safe to run again: only
# missing packages are installed, and the package lists are refreshed only
# when a package is not known yet.
#   scripts/setup.sh             what the build needs (the default build also
#                                compiles the tests and benchmarks)
#   scripts/setup.sh --frontend  also what the web front end needs (Graphviz,
#                                Node.js and the packages of frontend/)
#   scripts/setup.sh --test      also what running the tests needs (MariaDB
#                                server, the front end's, headless Chromium)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make python3 libxerces-c-dev libtclap-dev unixodbc unixodbc-dev odbc-mariadb
          libgtest-dev googletest libbenchmark-dev)
frontend=false
case "${1:-}" in
  --test) packages+=(mariadb-server mariadb-client graphviz chromium); frontend=true ;;
  --frontend) packages+=(graphviz); frontend=true ;;
esac
# Node.js 20 comes with the machine; Debian's is installed only where none is.
if $frontend && ! command -v node >/dev/null; then packages+=(nodejs npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  echo "Installing: ${missing[*]}"
  if ! $SUDO apt-get install -y -q "${missing[@]}"; then
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q "${missing[@]}"
  fi
fi

# The front end's node packages, exactly as package-lock.json lists them;
# again only when the installed set is missing or older than the lock file.
if $frontend; then
  installed=frontend/node_modules/.package-lock.json
  if [[ ! -f $installed || frontend/package-lock.json -nt $installed ]]; then
    (cd frontend && npm ci --no-audit --no-fund)
  fi
fi
