#!/usr/bin/env bash
# A private Firebird server on 127.0.0.1 for the tests and the benchmark.
#
#   eval "$(scripts/fbserver.sh start)"  # prints export lines for the three
#                                         # variables below
#   scripts/fbserver.sh stop [DIR]        # DIR: $KZ_TEST_FB_DIR by default
#
# start makes a new folder /tmp/kz-fbserver-XXXXXX that is the server's root:
# its own firebird.conf (a free port, bound to 127.0.0.1), its own security
# database with a SYSDBA password of its own, its own lock folder. It starts
# /usr/sbin/firebird there (as user firebird when run by root) and prints
#   KZ_TEST_FB_DIR (the folder), KZ_TEST_FB_PORT, KZ_TEST_FB_PASSWORD.
# No other server is touched: stop ends only the process this folder's start
# launched, by its PID, and only while that PID is still a firebird server
# whose root is this folder; then it removes the folder.
set -euo pipefail

server=/usr/sbin/firebird

die() {
  echo "fbserver: $*" >&2
  exit 1
}

# The server's user: firebird when we are root, else ourselves.
runas=()
[ "$(id -u)" -ne 0 ] || runas=(setpriv --reuid=firebird --regid=firebird --init-groups --)
as_server() { ${runas[@]+"${runas[@]}"} "$@"; }

answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Whether process $1 holds the listening socket of port $2 on 127.0.0.1.
listens() {
  local hex inode fd
  hex=$(printf '%04X' "$2")
  inode=$(awk -v a="0100007F:$hex" '$2 == a && $4 == "0A" { print $10 }' /proc/net/tcp)
  [ -n "$inode" ] || return 1
  for fd in "/proc/$1/fd/"*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "socket:[$inode]" ] && return 0
  done
  return 1
}

# Whether $1 is a firebird server whose root is folder $2.
ours() {
  [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$server" ] &&
    grep -qzxF "FIREBIRD=$2" "/proc/$1/environ" 2>/dev/null
}

# Stops the server of folder $2 whose PID is $1, if it is still that server,
# and waits until it has ended. The server sometimes sits out a shutdown
# request for a minute or more (its listener sleeps); after 5 s it is killed:
# its databases are the tests' throwaway ones.
stop_pid() {
  local pid=$1 dir=$2
  ours "$pid" "$dir" || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  if ours "$pid" "$dir"; then kill -KILL "$pid" 2>/dev/null || true; fi
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

start() {
  [ -x "$server" ] || die "$server is missing (package firebird3.0-server)"
  local intl
  intl=$(compgen -G '/usr/lib/*/firebird/3.0/intl/libfbintl.so' | head -n 1) ||
    die "libfbintl.so not found (package firebird3.0-server-core)"

  local dir
  dir=$(mktemp -d /tmp/kz-fbserver-XXXXXX)
  chmod 0755 "$dir"
  mkdir "$dir/lock" "$dir/intl"
  # The engine loads its character sets from <root>/intl and does not find
  # them through a symbolic link to the system's folder, hence copies.
  cp "$intl" "$(dirname "$intl")/fbintl.conf" "$dir/intl/"
  cp /etc/firebird/3.0/plugins.conf "$dir/"
  printf 'security.db = %s/security3.fdb\n{\n  RemoteAccess = false\n}\n' "$dir" >"$dir/databases.conf"
  write_conf "$dir" 0
  [ "$(id -u)" -ne 0 ] || chown -R firebird:firebird "$dir"

  # A fresh security database (as the Debian package makes its own) with a
  # new SYSDBA password, made through the embedded engine with this folder as
  # its root so that no other security database is opened.
  local password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  (
    cd "$dir"
    export FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock
    echo "CREATE DATABASE '$dir/security3.fdb';" | as_server isql-fb -q
    as_server isql-fb -q -user SYSDBA -i /usr/share/firebird/3.0/security.sql "$dir/security3.fdb"
    echo "CREATE OR ALTER USER SYSDBA PASSWORD '$password' USING PLUGIN Srp;" |
      as_server isql-fb -q -user SYSDBA "$dir/security3.fdb"
  ) >"$dir/setup.log" 2>&1 || {
    cat "$dir/setup.log" >&2
    rm -rf "$dir"
    die "could not create the security database"
  }

  # A random port below the usual ephemeral range, free now; when another
  # process takes it first, the next one.
  local port pid
  for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 12000))
    answers "$port" && continue
    write_conf "$dir" "$port"
    # A simple command started in the background is exec'd by the forked
    # shell, so $! is the server's own PID.
    pid=$(
      cd "$dir"
      FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock ${runas[@]+"${runas[@]}"} "$server" \
        </dev/null >>"$dir/server.log" 2>&1 &
      echo $!
    )
    echo "$pid" >"$dir/server.pid"
    for _ in $(seq 1 100); do
      if listens "$pid" "$port"; then
        printf 'export KZ_TEST_FB_DIR=%s KZ_TEST_FB_PORT=%s KZ_TEST_FB_PASSWORD=%s\n' \
          "$dir" "$port" "$password"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      # Another process took the port first: give it up, take another.
      if answers "$port" && ! listens "$pid" "$port"; then break; fi
      sleep 0.1
    done
    stop_pid "$pid" "$dir"
  done
  cat "$dir/server.log" >&2 || true
  rm -rf "$dir"
  die "the server did not start"
}

write_conf() {
  local dir=$1 port=$2
  {
    echo "RemoteServicePort = $port"
    echo "RemoteBindAddress = 127.0.0.1"
    echo "SecurityDatabase = $dir/security3.fdb"
    echo "UdfAccess = None"
  } >"$dir/firebird.conf"
}

stop() {
  local dir=${1:-${KZ_TEST_FB_DIR:-}}
  [ -n "$dir" ] || die "stop: which folder? (KZ_TEST_FB_DIR is not set)"
  case "$dir" in /tmp/kz-fbserver-*) ;; *) die "stop: $dir is not a server folder of this script" ;; esac
  [ -d "$dir" ] || return 0
  if [ -f "$dir/server.pid" ]; then stop_pid "$(cat "$dir/server.pid")" "$dir"; fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) start ;;
  stop) stop "${2:-}" ;;
  *)
    echo "usage: $0 start | stop [DIR]" >&2
    exit 2
    ;;
esac
