#!/usr/bin/env bash
# A private Firebird server on 127.0.0.1 for the tests and the benchmark.
#
#   eval "$(scripts/fbserver.sh start)"  # prints export lines for the
#                                         # variables below
#   eval "$(scripts/fbserver.sh start --root ROOT)"
#                                         # the Firebird of another Debian
#                                         # system, a root folder (as root)
#   scripts/fbserver.sh stop [DIR]        # DIR: $KZ_TEST_FB_DIR by default
#
# start makes a new folder /tmp/kz-fbserver-XXXXXX that is the server's root:
# its own firebird.conf (a free port, bound to 127.0.0.1), its own security
# database with a SYSDBA password of its own, its own lock folder. It starts
# the system's server there (as user firebird when run by root) and prints
#   KZ_TEST_FB_DIR (the folder), KZ_TEST_FB_PORT, KZ_TEST_FB_PASSWORD,
#   KZ_TEST_FB_VERSION (3.0 or 4.0).
# The version is the one installed: Firebird 4.0 (Debian 13: the programs in
# /usr/lib/firebird/4.0/bin) when present, else 3.0 (Debian 12). Everything
# else stays at the version's defaults (on 4.0: wire encryption required,
# Srp256, read consistency).
#
# With --root the server is the one installed in ROOT (for instance the
# Debian 13 root of scripts/debian13.sh), run chrooted there as ROOT's user
# firebird, in a mount namespace of its own (unshare -m) where this machine's
# /tmp is ROOT/tmp and proc is mounted at ROOT/proc: the server sees the
# files of /tmp by the same paths as the tests here, and its mounts end with
# it. Its lock folder is the private one of its folder, so it never meets the
# lock files of this machine's own Firebird (/tmp/firebird and the tests'
# folders).
#
# No other server is touched: stop ends only the process this folder's start
# launched, by its PID, and only while that PID is still a firebird server
# whose root is this folder; then it removes the folder.
set -euo pipefail

die() {
  echo "fbserver: $*" >&2
  exit 1
}

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
  local exe
  exe=$(readlink "/proc/$1/exe" 2>/dev/null) || return 1
  [ "${exe##*/}" = firebird ] && grep -qzxF "FIREBIRD=$2" "/proc/$1/environ" 2>/dev/null
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

# The Firebird of the system in $sysroot ("" for this one): sets version,
# fbroot (its root folder of libraries and configuration), server, isql,
# plugins_conf, security_sql and secdb, all paths as that system sees them.
find_firebird() {
  local v found
  for v in 4.0 3.0; do
    found=$(compgen -G "$sysroot/usr/lib/*/firebird/$v/intl/libfbintl.so" | head -n 1) || continue
    version=$v
    fbroot=$(dirname "$(dirname "${found#"$sysroot"}")")
    # Debian 13 keeps the programs under /usr/lib/firebird/<version>/bin (the
    # commands of /usr/bin and /usr/sbin are scripts that set FIREBIRD to the
    # system's folder); Debian 12 installs them in /usr/sbin and /usr/bin.
    if [ -x "$sysroot/usr/lib/firebird/$v/bin/firebird" ]; then
      server=/usr/lib/firebird/$v/bin/firebird
      isql=/usr/lib/firebird/$v/bin/isql-fb
    else
      server=/usr/sbin/firebird
      isql=/usr/bin/isql-fb
    fi
    plugins_conf=/etc/firebird/$v/plugins.conf
    security_sql=/usr/share/firebird/$v/security.sql
    secdb=security${v%%.*}.fdb
    [ -x "$sysroot$server" ] || die "$sysroot$server is missing (package firebird$v-server)"
    [ -f "$sysroot$security_sql" ] || die "$sysroot$security_sql is missing"
    return 0
  done
  die "no Firebird 3.0 or 4.0 in ${sysroot:-this system} (libfbintl.so not found; package firebird3.0-server-core or firebird4.0-server-core)"
}

# Where the file $1 of that system is seen from here, with its symbolic links
# followed inside that system (Debian 13 links files of the Firebird folder
# to /etc/firebird/4.0).
system_file() {
  local path=$1 target
  for _ in $(seq 1 20); do
    [ -L "$sysroot$path" ] || break
    target=$(readlink "$sysroot$path")
    case "$target" in
      /*) path=$target ;;
      *) path=$(dirname "$path")/$target ;;
    esac
  done
  echo "$sysroot$path"
}

# The command prefix that runs a program of that system as its user firebird
# (when we are root), with this environment: in launcher.
set_launcher() {
  launcher=()
  if [ -n "$sysroot" ]; then
    # unshare (without --fork), sh, chroot and setpriv each exec the next:
    # the PID of the command is the server's own.
    # shellcheck disable=SC2016
    launcher=(unshare -m --propagation private sh -c
      'r=$1; shift; mount --bind /tmp "$r/tmp" && mount -t proc proc "$r/proc" && exec chroot "$r" "$@"'
      sh "$sysroot" setpriv --reuid=firebird --regid=firebird --init-groups --)
  elif [ "$(id -u)" -eq 0 ]; then
    launcher=(setpriv --reuid=firebird --regid=firebird --init-groups --)
  fi
}

# The folder of a start that has not succeeded (yet): removed, with its
# server stopped, when the script ends.
made=
cleanup() {
  [ -n "$made" ] || return 0
  if [ -f "$made/server.pid" ]; then stop_pid "$(cat "$made/server.pid")" "$made"; fi
  rm -rf "$made"
}
trap cleanup EXIT

start() {
  sysroot=
  if [ "${1:-}" = --root ]; then
    [ -n "${2:-}" ] || die "start --root: which folder?"
    sysroot=$(realpath "$2")
    [ "$(id -u)" -eq 0 ] || die "start --root needs root (chroot, mounts)"
    [ -d "$sysroot/tmp" ] && [ -d "$sysroot/proc" ] || die "$sysroot is not a system root"
  fi
  find_firebird
  set_launcher
  # The server's user and group, as numbers: the root's may differ from ours.
  local owner=
  if [ "$(id -u)" -eq 0 ]; then
    owner=$(awk -F: '$1 == "firebird" { print $3 ":" $4 }' "$sysroot/etc/passwd")
    [ -n "$owner" ] || die "no user firebird in ${sysroot:-this system}"
  fi

  local dir
  dir=$(mktemp -d /tmp/kz-fbserver-XXXXXX)
  made=$dir
  chmod 0755 "$dir"
  mkdir "$dir/lock" "$dir/intl"
  # The engine loads its character sets from <root>/intl and does not find
  # them through a symbolic link to the system's folder, hence copies. The
  # 4.0 engine has no fixed paths: it loads its plugins (also refusing a
  # link) and its messages from its root too.
  cp "$(system_file "$fbroot/intl/libfbintl.so")" "$(system_file "$fbroot/intl/fbintl.conf")" \
    "$dir/intl/"
  if [ "$version" != 3.0 ]; then
    cp -r "$(system_file "$fbroot/plugins")" "$dir/plugins"
    cp "$(system_file "$fbroot/firebird.msg")" "$dir/"
  fi
  cp "$(system_file "$plugins_conf")" "$dir/plugins.conf"
  printf 'security.db = %s/%s\n{\n  RemoteAccess = false\n}\n' "$dir" "$secdb" >"$dir/databases.conf"
  write_conf "$dir" 0
  [ -z "$owner" ] || chown -R -h "$owner" "$dir"

  # A fresh security database (as the Debian package makes its own) with a
  # new SYSDBA password, made through the embedded engine with this folder as
  # its root so that no other security database is opened.
  local password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  # shellcheck disable=SC2016
  FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock ${launcher[@]+"${launcher[@]}"} sh -c '
    set -e
    isql=$1 db=$2 sql=$3 password=$4
    cd "$FIREBIRD"
    echo "CREATE DATABASE '\''$db'\'';" | "$isql" -q
    "$isql" -q -user SYSDBA -i "$sql" "$db"
    echo "CREATE OR ALTER USER SYSDBA PASSWORD '\''$password'\'' USING PLUGIN Srp; COMMIT;" |
      "$isql" -q -user SYSDBA "$db"' \
    sh "$isql" "$dir/$secdb" "$security_sql" "$password" >"$dir/setup.log" 2>&1 </dev/null || {
    cat "$dir/setup.log" >&2
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
      FIREBIRD=$dir FIREBIRD_LOCK=$dir/lock ${launcher[@]+"${launcher[@]}"} "$server" \
        </dev/null >>"$dir/server.log" 2>&1 &
      echo $!
    )
    echo "$pid" >"$dir/server.pid"
    for _ in $(seq 1 100); do
      if listens "$pid" "$port"; then
        made=
        printf 'export KZ_TEST_FB_DIR=%s KZ_TEST_FB_PORT=%s KZ_TEST_FB_PASSWORD=%s KZ_TEST_FB_VERSION=%s\n' \
          "$dir" "$port" "$password" "$version"
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
  die "the server did not start"
}

write_conf() {
  local dir=$1 port=$2
  {
    echo "RemoteServicePort = $port"
    echo "RemoteBindAddress = 127.0.0.1"
    echo "SecurityDatabase = $dir/$secdb"
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
  start) start "${@:2}" ;;
  stop) stop "${2:-}" ;;
  *)
    echo "usage: $0 start [--root ROOT] | stop [DIR]" >&2
    exit 2
    ;;
esac
