#!/usr/bin/env bash
# Puts an initial marking of the "Data" places into a private MariaDB server,
# so that build/workflow finds its coloured tokens in the data source "scpn".
#
#   scripts/load_marking.sh [DIR [SQLFILE]]
#
# DIR (default build/userdb) holds the server (see scripts/mariadb_server.sh);
# it is started when it does not run yet. SQLFILE (default
# model/marking_data.sql) is loaded into the database scpn as the user
# quorvel, replacing the marking there. The script ends by printing the
# environment setting that points the program at the server.
# Stop the server with: scripts/mariadb_server.sh stop DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build/userdb}
sql=${2:-$root/model/marking_data.sql}
[[ -f $sql ]] || { echo "no such file: $sql" >&2; exit 1; }

bash "$root/scripts/mariadb_server.sh" start "$dir"
dir=$(cd "$dir" && pwd)
port=$(cat "$dir/port")

client=$(command -v mariadb || command -v mysql) || { echo "mariadb client not found" >&2; exit 1; }
if ! timeout 120 "$client" --no-defaults --protocol=tcp -h 127.0.0.1 -P "$port" -u quorvel -ppelkorn scpn <"$sql"; then
  echo "loading $sql failed" >&2
  exit 1
fi
count=$(timeout 30 "$client" --no-defaults --protocol=tcp -h 127.0.0.1 -P "$port" -u quorvel -ppelkorn -N -B scpn \
  -e "SELECT COUNT(*) FROM 1_tokens_data" 2>/dev/null || echo "?")

echo "Loaded $sql into database scpn on 127.0.0.1:$port ($count Data tokens in marking 1)."
echo "Before running build/workflow in this shell, set:"
echo
echo "export ODBCINI=$dir/odbc.ini"
echo
echo "Stop the server with: scripts/mariadb_server.sh stop $dir"
