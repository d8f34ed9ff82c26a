#!/usr/bin/env bash
# A private MariaDB server that lives entirely in one directory: data, socket,
# pid file, logs and the ODBC configuration that points at it. The database
# tests use one under the build tree; scripts/load_marking.sh uses one for
# trying the program with a marking.
#
#   scripts/mariadb_server.sh start DIR    initialise DIR (once) and start the server
#   scripts/mariadb_server.sh stop DIR     shut the server down
#   scripts/mariadb_server.sh status DIR   exit 0 when the server answers
#
# After `start`, DIR holds:
#   odbc.ini       data sources "scpn" (database scpn) and "gmServiceDSN"
#                  (database gmservice, reached as the operating-system user)
#   odbcinst.ini   the MariaDB ODBC driver
#   port           the TCP port on 127.0.0.1
#   ready          present while the server runs and is set up
# Programs reach the data sources with ODBCINI=DIR/odbc.ini (and, to keep the
# machine's own driver list out of it, ODBCSYSINI=DIR).
#
# The account quorvel/pelkorn may do everything on the database scpn and on
# every database whose name starts with "scpn_" (the tests make their own).
# "gmServiceDSN" is used with an empty user name and password, for creating and
# dropping databases: the driver then logs in as the operating-system user, so
# that user gets an account without password that may do everything (root has
# one from the initialisation).
set -euo pipefail

usage() { echo "usage: $0 start|stop|status DIR" >&2; exit 2; }
[[ $# -eq 2 ]] || usage
action=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

sock=$dir/mysqld.sock
pidfile=$dir/mysqld.pid

find_tool() {
  local t
  for t in "$@"; do
    if command -v "$t" >/dev/null 2>&1; then command -v "$t"; return 0; fi
    if [[ -x /usr/sbin/$t ]]; then echo "/usr/sbin/$t"; return 0; fi
  done
  return 1
}

server_pid() {
  [[ -s $pidfile ]] || return 1
  local pid
  pid=$(tr -dc '0-9' <"$pidfile")
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 1
  # Only our own server: a stale pid file may name a process that reused the id.
  if [[ -r /proc/$pid/cmdline ]]; then
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "--datadir=$dir/data" || return 1
  fi
  echo "$pid"
}

ping_server() {
  local admin
  admin=$(find_tool mariadb-admin mysqladmin) || return 1
  [[ -S $sock ]] || return 1
  timeout 10 "$admin" --no-defaults --protocol=socket --socket="$sock" -uroot \
    --connect-timeout=5 ping >/dev/null 2>&1
}

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

driver_path() {
  local p arch
  arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)
  for p in "/usr/lib/$arch/odbc/libmaodbc.so" /usr/lib/odbc/libmaodbc.so /usr/lib64/libmaodbc.so \
           /usr/lib/libmaodbc.so "/usr/lib/$arch/libmaodbc.so"; do
    if [[ -f $p ]]; then echo "$p"; return 0; fi
  done
  p=$(dpkg -L odbc-mariadb 2>/dev/null | grep '/libmaodbc\.so$' | head -n 1 || true)
  [[ -n $p && -f $p ]] && { echo "$p"; return 0; }
  return 1
}

stop_server() {
  local pid admin i
  rm -f "$dir/ready"
  if ! pid=$(server_pid); then
    rm -f "$pidfile" "$sock" "$sock.lock"
    return 0
  fi
  if admin=$(find_tool mariadb-admin mysqladmin); then
    timeout 30 "$admin" --no-defaults --protocol=socket --socket="$sock" -uroot \
      --connect-timeout=5 shutdown >/dev/null 2>&1 || true
  fi
  for ((i = 0; i < 60; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 40; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
  fi
  if kill -0 "$pid" 2>/dev/null; then
    echo "MariaDB server $pid did not stop; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    sleep 1
  fi
  rm -f "$pidfile" "$sock" "$sock.lock"
  echo "MariaDB server under $dir stopped"
}

start_server() {
  if server_pid >/dev/null && ping_server && [[ -f $dir/ready && -f $dir/odbc.ini ]]; then
    echo "MariaDB server under $dir already runs on port $(cat "$dir/port")"
    return 0
  fi
  # Leftovers of an earlier run (crashed server, half-done start).
  stop_server >/dev/null

  bash "$here/setup.sh" --test

  local mariadbd installdb client driver
  mariadbd=$(find_tool mariadbd mysqld) || { echo "mariadbd not found" >&2; exit 1; }
  installdb=$(find_tool mariadb-install-db mysql_install_db) || { echo "mariadb-install-db not found" >&2; exit 1; }
  client=$(find_tool mariadb mysql) || { echo "mariadb client not found" >&2; exit 1; }
  driver=$(driver_path) || { echo "MariaDB ODBC driver (libmaodbc.so) not found" >&2; exit 1; }

  local userarg=()
  if [[ $(id -u) -eq 0 ]]; then userarg=(--user=root); fi
  local common=(--datadir="$dir/data" --innodb-log-file-size=8M --innodb-buffer-pool-size=32M)

  mkdir -p "$dir/tmp"
  if [[ ! -d $dir/data/mysql ]]; then
    rm -rf "$dir/data"
    echo "Initialising MariaDB data directory $dir/data"
    if ! "$installdb" --no-defaults "${common[@]}" --auth-root-authentication-method=normal \
         --skip-test-db --skip-name-resolve "${userarg[@]}" --tmpdir="$dir/tmp" \
         >"$dir/install.log" 2>&1; then
      echo "mariadb-install-db failed:" >&2
      tail -n 30 "$dir/install.log" >&2
      rm -rf "$dir/data"
      exit 1
    fi
  fi

  local port attempt i started=0
  for ((attempt = 1; attempt <= 3 && started == 0; attempt++)); do
    port=$(free_port)
    : >"$dir/error.log"
    # Detached from the caller: its own session, no inherited descriptors, so
    # that a test driver waiting for this script's output is not held up.
    setsid "$mariadbd" --no-defaults "${common[@]}" "${userarg[@]}" \
      --socket="$sock" --pid-file="$pidfile" --port="$port" --bind-address=127.0.0.1 \
      --skip-name-resolve --tmpdir="$dir/tmp" --log-error="$dir/error.log" \
      --skip-log-bin --max-connections=200 \
      </dev/null >>"$dir/server.out" 2>&1 &
    local launched=$!
    for ((i = 0; i < 120; i++)); do
      if ping_server; then started=1; break; fi
      if ! kill -0 "$launched" 2>/dev/null && ! server_pid >/dev/null; then break; fi
      sleep 0.5
    done
    if [[ $started -eq 0 ]]; then
      echo "MariaDB server did not come up on port $port (attempt $attempt):" >&2
      tail -n 20 "$dir/error.log" >&2 || true
      if kill -0 "$launched" 2>/dev/null; then
        kill -TERM "$launched" 2>/dev/null || true
        for ((i = 0; i < 40; i++)); do kill -0 "$launched" 2>/dev/null || break; sleep 0.5; done
        kill -KILL "$launched" 2>/dev/null || true
      fi
      rm -f "$pidfile" "$sock" "$sock.lock"
    fi
  done
  [[ $started -eq 1 ]] || { echo "giving up on the MariaDB server" >&2; exit 1; }

  timeout 60 "$client" --no-defaults --protocol=socket --socket="$sock" -uroot <<'SQL'
CREATE DATABASE IF NOT EXISTS scpn;
CREATE DATABASE IF NOT EXISTS gmservice;
CREATE USER IF NOT EXISTS 'quorvel'@'127.0.0.1' IDENTIFIED BY 'pelkorn';
CREATE USER IF NOT EXISTS 'quorvel'@'localhost' IDENTIFIED BY 'pelkorn';
GRANT ALL PRIVILEGES ON scpn.* TO 'quorvel'@'127.0.0.1', 'quorvel'@'localhost';
GRANT ALL PRIVILEGES ON `scpn\_%`.* TO 'quorvel'@'127.0.0.1', 'quorvel'@'localhost';
FLUSH PRIVILEGES;
SQL
  local osuser
  osuser=$(id -un)
  if [[ $osuser != root && $osuser =~ ^[A-Za-z0-9_.-]+$ ]]; then
    timeout 60 "$client" --no-defaults --protocol=socket --socket="$sock" -uroot <<SQL
CREATE USER IF NOT EXISTS '$osuser'@'127.0.0.1';
CREATE USER IF NOT EXISTS '$osuser'@'localhost';
GRANT ALL PRIVILEGES ON *.* TO '$osuser'@'127.0.0.1', '$osuser'@'localhost';
FLUSH PRIVILEGES;
SQL
  fi

  cat >"$dir/odbcinst.ini" <<EOF
[MariaDB]
Description = MariaDB Connector/ODBC
Driver = $driver
EOF
  cat >"$dir/odbc.ini" <<EOF
[scpn]
Description = marking database
Driver = $driver
SERVER = 127.0.0.1
PORT = $port
DATABASE = scpn

[gmServiceDSN]
Description = database administration
Driver = $driver
SERVER = 127.0.0.1
PORT = $port
DATABASE = gmservice

EOF
  echo "$port" >"$dir/port"
  touch "$dir/ready"
  echo "MariaDB server under $dir runs on 127.0.0.1:$port (pid $(server_pid || echo '?'))"
}

case $action in
  start) start_server ;;
  stop) stop_server ;;
  status) server_pid >/dev/null && ping_server ;;
  *) usage ;;
esac
