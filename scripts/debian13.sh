#!/usr/bin/env bash
# The Debian 13 ("trixie") and Firebird 4 stages of the tests, as root.
#
#   scripts/debian13.sh test [BUILD]  # both stages (make test, make test-fb4)
#   scripts/debian13.sh root          # only makes (or checks) the cached root
#   scripts/debian13.sh shell [CMD..] # a shell (or CMD) in the root, in the
#                                     # checkout, mounts as for the tests
#
# The root: a minimal Debian 13 made by debootstrap, with the compiler, cmake,
# GoogleTest, the Firebird 4 client, engine, server and tools, and what the
# package test needs. It is kept in $KZ_DEBIAN13_ROOT (default
# /var/cache/kz-debian13/root), outside the checkout, and reused by later
# runs. It is made in ROOT.tmp and renamed to ROOT once complete; the stamp
# ROOT/.kz-debian13-ready, written last, names the packages it holds. A root
# whose stamp names other packages gets the missing ones. The registry is
# $KZ_DEBIAN13_MIRROR (default http://deb.debian.org/debian); it is needed
# only while the root is made or completed. When it cannot be reached the
# stages are skipped with a message, and this script succeeds; any other
# failure fails it.
#
# test runs, one after the other (a failing one does not stop the next):
#   1. in the root: the project built with the root's g++ and Firebird 4
#      client in build-debian13/ of the checkout (gitignored), its whole ctest
#      suite (unit tests, embedded tests on the Firebird 4 engine, server
#      tests against a private Firebird 4 server that scripts/fbserver.sh
#      starts in the root), then the Debian package test
#      (scripts/package-test.sh, which installs the package in the root);
#   2. here: the Debian 12 build BUILD (default build) against a private
#      Firebird 4 server of the root (scripts/fbserver.sh start --root): its
#      whole ctest suite with KZ_TEST_FB_PORT and KZ_TEST_FB_PASSWORD naming
#      that server (so every test that uses the test server, and only those,
#      meets Firebird 4; the embedded tests run again on Firebird 3), and the
#      demo (scripts/demo.sh --server) with its outcome checked.
#
# Mounts (proc, the checkout, this machine's /tmp at ROOT/tmp) are made only
# in private mount namespaces (unshare -m) of the processes that need them,
# so nothing stays mounted when they end. A folder is removed only when
# nothing is mounted below it and no process has its root there.
set -euo pipefail
self=$(realpath "$0")
checkout=$(dirname "$(dirname "$self")")
root=${KZ_DEBIAN13_ROOT:-/var/cache/kz-debian13/root}
mirror=${KZ_DEBIAN13_MIRROR:-http://deb.debian.org/debian}
build13=${KZ_DEBIAN13_BUILD:-build-debian13}
# What the build, the tests and the package test need in the root.
packages=(g++ make cmake libgtest-dev firebird-dev libfbclient2 firebird4.0-server
  firebird4.0-server-core firebird4.0-utils file dpkg-dev lintian adduser)
stamp=.kz-debian13-ready
root_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

note() { echo "debian 13: $*"; }
die() {
  echo "debian 13: FAILED: $*" >&2
  exit 1
}
# The registry cannot be reached: this stage is skipped, the run goes on.
skip() {
  echo "debian 13: SKIPPED (the Debian 13 and Firebird 4 stages): $*" >&2
  exit 0
}

# Whether the registry answers: a TCP connection to its host (or to the
# proxy of http_proxy), within 15 s.
registry_reachable() {
  local url=${http_proxy:-$mirror} hostport host port=80
  case "$url" in https://*) port=443 ;; esac
  hostport=${url#*://}
  hostport=${hostport%%/*}
  hostport=${hostport##*@}
  host=${hostport%:*}
  [ "$host" = "$hostport" ] || port=${hostport##*:}
  # shellcheck disable=SC2016
  timeout 15 bash -c 'exec 3<>"/dev/tcp/$0/$1"' "$host" "$port" 2>/dev/null
}

# A failed download: skipped when the registry cannot be reached, else a
# failure. $1: what failed, $2: its log.
download_failed() {
  if ! registry_reachable; then
    skip "$1 failed and the Debian registry ($mirror) cannot be reached"
  fi
  tail -n 30 "$2" >&2
  die "$1 (log: $2)"
}

# Whether something is mounted at or below folder $1, here, or a process has
# its root there.
busy() {
  local dir p r
  dir=$(realpath "$1")
  if awk -v d="$dir" '{ m = $5; gsub(/\\040/, " ", m) }
      m == d || index(m, d "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
    return 0
  fi
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    [ "$r" = "$dir" ] || [ "${r#"$dir"/}" != "$r" ] && return 0
  done
  return 1
}

remove_root() {
  [ -e "$1" ] || return 0
  busy "$1" && die "$1 is in use (a mount or a process inside it); not removed"
  rm -rf "$1"
}

# The packages of the list that root $1 lacks.
missing_in() {
  local p
  for p in "${packages[@]}"; do
    # shellcheck disable=SC2016
    [ "$(chroot "$1" dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] ||
      echo "$p"
  done
}

# Installs the missing packages in root $1 (apt-get update only then), with
# proc mounted in a private namespace and no service started.
complete_root() {
  local r=$1 missing log
  mapfile -t missing < <(missing_in "$r")
  [ ${#missing[@]} -gt 0 ] || return 0
  note "installing in the root: ${missing[*]}"
  printf '#!/bin/sh\n# No service starts in this root.\nexit 101\n' >"$r/usr/sbin/policy-rc.d"
  chmod 0755 "$r/usr/sbin/policy-rc.d"
  rm -f "$r/etc/resolv.conf"
  cat /etc/resolv.conf >"$r/etc/resolv.conf"
  log=$(dirname "$r")/apt.log
  # shellcheck disable=SC2016
  if ! unshare -m --propagation private sh -c '
      r=$1; shift
      mount -t proc proc "$r/proc" || exit 1
      export DEBIAN_FRONTEND=noninteractive
      chroot "$r" apt-get update -q || exit 1
      chroot "$r" apt-get install -y -q --no-install-recommends "$@" || exit 1
      chroot "$r" apt-get clean' sh "$r" "${missing[@]}" >"$log" 2>&1; then
    download_failed "installing the packages in the root" "$log"
  fi
  mapfile -t missing < <(missing_in "$r")
  [ ${#missing[@]} -eq 0 ] || die "still missing in the root after installing: ${missing[*]}"
}

# Makes sure the cached root is complete: ROOT with the stamp of this package
# list. Holds the cache's lock (shared once the root is ready).
ensure_root() {
  local cache start=$SECONDS log
  cache=$(dirname "$root")
  mkdir -p "$cache"
  exec 8>"$root.lock"
  flock -x 8
  if [ -f "$root/$stamp" ] && [ "$(cat "$root/$stamp")" = "${packages[*]}" ]; then
    flock -s 8
    return 0
  fi
  if [ -d "$root" ]; then
    # Complete once, with another package list: completed in place.
    rm -f "$root/$stamp"
    complete_root "$root"
  else
    # debootstrap removes ROOT/debootstrap when it has finished: a ROOT.tmp
    # without it is kept and completed, any other is made anew.
    if [ -d "$root.tmp" ] && { [ -e "$root.tmp/debootstrap" ] || [ ! -x "$root.tmp/usr/bin/apt-get" ]; }; then
      remove_root "$root.tmp"
    fi
    if [ ! -d "$root.tmp" ]; then
      if ! command -v debootstrap >/dev/null; then
        note "installing debootstrap"
        log=$cache/apt-host.log
        { DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap ||
          { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap; }; } \
          >"$log" 2>&1 || download_failed "installing debootstrap" "$log"
      fi
      registry_reachable || skip "the Debian registry ($mirror) cannot be reached"
      note "debootstrap --variant=minbase trixie $root.tmp $mirror (a few minutes)"
      log=$cache/debootstrap.log
      # Its mounts (proc, sys) in a private namespace: none is left behind.
      unshare -m --propagation private debootstrap --variant=minbase trixie "$root.tmp" "$mirror" \
        >"$log" 2>&1 || download_failed "debootstrap" "$log"
    fi
    complete_root "$root.tmp"
    mv "$root.tmp" "$root"
  fi
  echo "${packages[*]}" >"$root/$stamp"
  note "the root $root is ready ($((SECONDS - start)) s)"
  flock -s 8
}

# Runs "$@" chrooted in the root, in a private mount namespace with proc, the
# checkout (at its own path) and this machine's /tmp (at /tmp) mounted.
in_root() {
  # shellcheck disable=SC2016
  unshare -m --propagation private sh -c '
    r=$1 c=$2; shift 2
    mount -t proc proc "$r/proc" || exit 1
    mount --bind /tmp "$r/tmp" || exit 1
    case "$c" in
      /tmp/*) ;;
      *) mkdir -p "$r$c" && mount --bind "$c" "$r$c" || exit 1 ;;
    esac
    exec chroot "$r" "$@"' sh "$root" "$checkout" \
    env -i HOME=/root PATH="$root_path" LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    KZ_DEBIAN13_BUILD="$build13" "$@"
}

# Stage 1, inside the root: build, every test, the package.
stage_in_root() {
  cd "$checkout"
  local status=0 start=$SECONDS
  echo "== Debian 13 build ($(g++ --version | head -n 1); Firebird client $(
    dpkg-query -W -f='${Version}' libfbclient2)) in $build13/"
  if [ ! -f "$build13/CMakeCache.txt" ]; then
    cmake -S . -B "$build13" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build13" -j "$(nproc)" >"$build13/build.log" 2>&1 || {
    grep -E -B2 -A12 'error|Error' "$build13/build.log" | head -n 150 >&2
    echo "debian 13: FAILED: the build (log: $build13/build.log)" >&2
    return 1
  }
  echo "   built ($((SECONDS - start)) s)"

  start=$SECONDS
  local server
  server=$(scripts/fbserver.sh start)
  eval "$server"
  # shellcheck disable=SC2064
  trap "scripts/fbserver.sh stop '$KZ_TEST_FB_DIR'" EXIT
  echo "== Debian 13 build: every test, embedded on Firebird 4 and through a private Firebird $KZ_TEST_FB_VERSION server (127.0.0.1:$KZ_TEST_FB_PORT)"
  FIREBIRD_LOCK=$(mktemp -d /tmp/kz-fblock-XXXXXX)
  export FIREBIRD_LOCK
  ctest --test-dir "$build13" --output-on-failure -j "$(nproc)" || status=1
  scripts/fbserver.sh stop "$KZ_TEST_FB_DIR"
  trap - EXIT
  rm -rf "$FIREBIRD_LOCK"
  echo "   tests ($((SECONDS - start)) s)"

  start=$SECONDS
  echo "== Debian 13 build: the Debian package"
  scripts/package-test.sh "$build13" || status=1
  echo "   package test ($((SECONDS - start)) s)"
  return "$status"
}

# Stage 2, here: the Debian 12 build against a Firebird 4 server of the root.
stage_fb4_server() {
  local build=$1 status=0 start=$SECONDS demo server
  [ -x "$build/cancela-empenhos" ] || die "no Debian 12 build in $build (make all)"
  # The cache's lock (descriptor 8) stays with this script, not the server.
  server=$(scripts/fbserver.sh start --root "$root" 8>&-) || return 1
  eval "$server"
  # shellcheck disable=SC2064
  trap "scripts/fbserver.sh stop '$KZ_TEST_FB_DIR'" EXIT
  echo "== Debian 12 build (Firebird $(dpkg-query -W -f='${Version}' libfbclient2) client) against a private Firebird $KZ_TEST_FB_VERSION server of the Debian 13 root (127.0.0.1:$KZ_TEST_FB_PORT)"
  FIREBIRD_LOCK=$(mktemp -d /tmp/kz-fblock-XXXXXX)
  export FIREBIRD_LOCK
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" || status=1
  rm -rf "$FIREBIRD_LOCK"
  unset FIREBIRD_LOCK
  echo "   tests ($((SECONDS - start)) s)"

  start=$SECONDS
  echo "== Debian 12 build: the demo on the Firebird 4 server"
  demo=$(mktemp -d /tmp/kz-demo-fb4-XXXXXX)
  local run=0 cancelled=
  DEMO_DIR=$demo scripts/demo.sh "$build" --server >"$demo.log" 2>&1 || run=$?
  if [ -f "$demo/base.fdb" ]; then
    cancelled=$(echo "SET HEADING OFF; SELECT CODEPN FROM TB_VDA_CADEPN WHERE STAEPN = 4 ORDER BY CODEPN;" |
      isql-fb -q -user SYSDBA -password "$KZ_TEST_FB_PASSWORD" \
        "127.0.0.1/$KZ_TEST_FB_PORT:$demo/base.fdb" 2>&1 | grep -o '[0-9]\+' | paste -sd, || true)
  fi
  if [ "$run" -eq 0 ] && [ "$cancelled" = "4711,4712,4713,4714,4715" ] &&
    [ "$(grep -c 'Cancelado !' "$demo/Resultado do Cancelamento.txt" 2>/dev/null)" = 5 ]; then
    echo "   demo: exit 0, cancelled $cancelled ($((SECONDS - start)) s)"
  else
    cat "$demo.log" >&2
    echo "debian 13: FAILED: the demo on the Firebird 4 server: exit $run, cancelled '$cancelled'" >&2
    status=1
  fi
  rm -rf "$demo" "$demo.log"
  scripts/fbserver.sh stop "$KZ_TEST_FB_DIR"
  trap - EXIT
  return "$status"
}

case "${1:-test}" in
  test | root | shell)
    if [ "$(id -u)" -ne 0 ]; then
      echo "debian 13: SKIPPED (the Debian 13 and Firebird 4 stages): they need root (debootstrap, chroot, mounts)" >&2
      exit 0
    fi
    cd "$checkout"
    ensure_root
    ;;
esac

case "${1:-test}" in
  root) ;;
  shell)
    shift
    # shellcheck disable=SC2016
    in_root bash -c 'cd "$0" && if [ $# -eq 0 ]; then exec bash -i; else exec "$@"; fi' \
      "$checkout" "$@" 8>&-
    ;;
  test)
    failed=()
    start=$SECONDS
    in_root bash "$self" _in_root 8>&- || failed+=("Debian 13 build (tests, package)")
    echo "   Debian 13 stage: $((SECONDS - start)) s"
    start=$SECONDS
    stage_fb4_server "${2:-build}" || failed+=("Debian 12 build against the Firebird 4 server")
    echo "   Firebird 4 server stage: $((SECONDS - start)) s"
    if [ ${#failed[@]} -gt 0 ]; then
      printf 'debian 13: FAILED: %s\n' "${failed[@]}" >&2
      exit 1
    fi
    note "passed"
    ;;
  _in_root) stage_in_root ;;
  *)
    echo "usage: $0 [test [BUILD] | root | shell [COMMAND...]]" >&2
    exit 2
    ;;
esac
