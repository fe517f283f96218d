#!/usr/bin/env bash
# Runs every test: format check, unit and database tests (embedded and
# through a private server on 127.0.0.1 that this script starts and stops by
# its PID, scripts/fbserver.sh; no other server is touched), the same
# tests again in the sanitizer build when one is given, a bounded fuzzing
# run when a fuzz build is given, and the Debian package test.
# Usage: scripts/test.sh [build] [sanitizer build] [fuzz build]
set -euo pipefail
build=${1:-build}
asan=${2:-}
fuzz=${3:-}
cd "$(dirname "$0")/.."
make --no-print-directory format-check
lock_made=
server=$(scripts/fbserver.sh start)
eval "$server"
trap 'scripts/fbserver.sh stop "$KZ_TEST_FB_DIR"; [ -z "$lock_made" ] || rm -rf "$lock_made"' EXIT
# The embedded engine's lock folder: a private one, removed at the end,
# unless FIREBIRD_LOCK names one.
if [ -z "${FIREBIRD_LOCK:-}" ]; then
  FIREBIRD_LOCK=$(mktemp -d /tmp/kz-fblock-XXXXXX)
  lock_made=$FIREBIRD_LOCK
fi
export FIREBIRD_LOCK
mkdir -p "$FIREBIRD_LOCK"
echo "test server: 127.0.0.1:$KZ_TEST_FB_PORT (private, in $KZ_TEST_FB_DIR)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

if [ -n "$asan" ]; then
  # AddressSanitizer and leak reports land in files of this folder, also those
  # of the batch processes the tests start, whose output a test may not show;
  # any file there fails the run. UndefinedBehaviorSanitizer (a runtime of its
  # own under g++) writes to standard error only, so it stops a process with
  # status 86, which the program never uses and no test can take for an
  # expected outcome.
  reports=$(realpath "$asan")/sanitizer-reports
  rm -rf "$reports" && mkdir -p "$reports"
  # The embedded engine runs under AddressSanitizer with its defaults. The
  # client library's leaks at exit are suppressed by name (tests/lsan.supp);
  # some of them are made inside ICU, which has no frame pointers, so only the
  # full unwinder (fast_unwind_on_malloc=0) traces them back to the library.
  # Dynamic TLS blocks are not tracked on their own (intercept_tls_get_addr=0):
  # with the engine's modules loaded at run time, this compiler's leak checker
  # records bogus bounds for one of them and crashes at exit while scanning
  # it. The blocks are heap memory that the thread's own TLS points to, so
  # what they hold is still scanned.
  status=0
  ASAN_OPTIONS="log_path=$reports/report:intercept_tls_get_addr=0" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0" \
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86" \
    ctest --test-dir "$asan" --output-on-failure -j "$(nproc)" || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "sanitizer reports (in $reports):" >&2
    cat "$reports"/* >&2
    exit 1
  fi
  [ "$status" -eq 0 ] || exit "$status"
fi

if [ -n "$fuzz" ]; then
  scripts/fuzz.sh "$fuzz"
fi

# The Debian package: built, checked, installed, the demo run with the
# installed programs, purged.
scripts/package-test.sh "$build"
