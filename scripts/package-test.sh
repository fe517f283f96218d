#!/usr/bin/env bash
# The Debian package end to end: builds it, checks it with lintian, installs
# it with dpkg -i, checks what the installation made, runs the demo with the
# installed programs and checks its outcome, verifies the installed systemd
# units (where systemd-analyze works on this machine; not in a chroot such as
# the Debian 13 root of scripts/debian13.sh, which has no systemd), and purges
# the package again. It replaces nothing: it is skipped when not run as root
# or when a cancela-empenhos package is already installed here, and the
# service user it made is removed again.
# Usage: scripts/package-test.sh [build]
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
pkg=cancela-empenhos

note() { echo "package test: $*"; }
fail() {
  echo "package test: FAILED: $*" >&2
  exit 1
}

if [ "$(id -u)" -ne 0 ]; then
  note "skipped (installing a package needs root)"
  exit 0
fi
# One package test at a time on a machine: they install the same package.
mkdir -p /run/lock
exec 9>/run/lock/kz-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
  note "skipped: $pkg is installed on this machine and is not ours to replace"
  exit 0
fi

lintian_log=$(mktemp)
cmake --build "$build" --target package >"$lintian_log" 2>&1 || {
  cat "$lintian_log" >&2
  fail "building the package"
}
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$build/${pkg}_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package $deb"

work=$(mktemp -d /tmp/kz-package-test-XXXXXX)
had_user=0
getent passwd "$pkg" >/dev/null && had_user=1
cleanup() {
  dpkg --purge "$pkg" >/dev/null 2>&1 || true
  if [ "$had_user" -eq 0 ] && getent passwd "$pkg" >/dev/null; then
    deluser --system --quiet "$pkg" >/dev/null 2>&1 || true
    delgroup --system --quiet --only-if-empty "$pkg" >/dev/null 2>&1 || true
  fi
  rm -rf "$work" "$lintian_log"
}
trap cleanup EXIT

# Errors and warnings fail; lintian says it would rather not run as root.
if ! lintian --fail-on error,warning "$deb" >"$lintian_log" 2>&1; then
  cat "$lintian_log" >&2
  fail "lintian"
fi
note "lintian: no error or warning"

# dpkg -i does not wait for another dpkg (or apt) to finish: try again for a
# while when it is locked.
for _ in $(seq 1 60); do
  if dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then break; fi
  grep -q 'lock' "$work/dpkg.log" || {
    cat "$work/dpkg.log" >&2
    fail "dpkg -i"
  }
  sleep 2
done
dpkg-query -W -f='${Status}' "$pkg" | grep -q 'ok installed' || fail "not installed: $(cat "$work/dpkg.log")"
note "installed $deb"

# What the package holds (read from the package: a minimal system may be set
# to leave out man pages and documents when installing), and what the
# installation made.
expected=(usr/bin/cancela-empenhos usr/bin/kz-cifra usr/share/man/man8/cancela-empenhos.8.gz
  usr/share/man/man8/kz-cifra.8.gz "usr/share/doc/$pkg/schema.sql" "usr/share/doc/$pkg/copyright"
  "usr/share/doc/$pkg/examples/default.txt" "usr/lib/systemd/system/$pkg.service"
  "usr/lib/systemd/system/$pkg@.service" "usr/lib/systemd/system/$pkg.timer")
if [ -f sql/grants.sql ]; then expected+=("usr/share/doc/$pkg/grants.sql"); fi
dpkg-deb -c "$deb" | awk '{ print $NF }' >"$work/contents"
for f in "${expected[@]}"; do grep -qxF "./$f" "$work/contents" || fail "$f is not in the package"; done
for f in /usr/bin/cancela-empenhos /usr/bin/kz-cifra; do [ -x "$f" ] || fail "$f not installed"; done
getent passwd "$pkg" >/dev/null || fail "no service user $pkg"
[ "$(stat -c '%a %U %G' /etc/kz-qubo)" = "750 root $pkg" ] ||
  fail "/etc/kz-qubo is $(stat -c '%a %U %G' /etc/kz-qubo)"

# The demo with the installed programs: exit 0, and exactly the five
# commitments of status -7 cancelled.
if ! DEMO_DIR="$work/demo" scripts/demo.sh --installed >"$work/demo.log" 2>&1; then
  cat "$work/demo.log" >&2
  fail "the demo with the installed program did not exit 0"
fi
cancelled=$(echo "SET HEADING OFF; SELECT CODEPN FROM TB_VDA_CADEPN WHERE STAEPN = 4 ORDER BY CODEPN;" |
  FIREBIRD_LOCK="$work/demo/lock" isql-fb -q -user SYSDBA "$work/demo/base.fdb" | grep -o '[0-9]\+' | paste -sd,)
[ "$cancelled" = "4711,4712,4713,4714,4715" ] || fail "cancelled: $cancelled"
[ "$(grep -c 'Cancelado !' "$work/demo/Resultado do Cancelamento.txt")" -eq 5 ] || fail "report"
note "demo with the installed program: exit 0, cancelled $cancelled"

# systemd-analyze verify loads units without a running systemd; on a machine
# where it cannot even load a trivial unit it proves nothing, so it is
# skipped there.
unit_dir=/usr/lib/systemd/system
printf '[Service]\nType=oneshot\nExecStart=/bin/true\n' >"$work/kz-probe.service"
# A chroot into a folder: no file system is mounted at its /.
if ! awk '$5 == "/" { found = 1 } END { exit !found }' /proc/self/mountinfo; then
  note "systemd-analyze verify skipped: this is a chroot (no systemd in it)"
elif command -v systemd-analyze >/dev/null &&
  [ -z "$(systemd-analyze verify "$work/kz-probe.service" 2>&1)" ]; then
  # The template is checked through an instance.
  ln -s "$unit_dir/$pkg@.service" "$work/$pkg@demo.service"
  if ! systemd-analyze verify "$unit_dir/$pkg.service" "$work/$pkg@demo.service" \
    "$unit_dir/$pkg.timer" >"$work/verify.log" 2>&1 ||
    [ -s "$work/verify.log" ]; then
    cat "$work/verify.log" >&2
    fail "systemd-analyze verify"
  fi
  note "systemd-analyze verify: the service, the template and the timer are clean"
else
  note "systemd-analyze verify skipped: it does not work on this machine"
fi
