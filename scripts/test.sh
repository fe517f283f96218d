#!/usr/bin/env bash
# Runs every test: format check, unit and database tests (embedded and
# through a server on 127.0.0.1 that this script starts and stops).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
make --no-print-directory format-check
scripts/fbserver.sh start
trap 'scripts/fbserver.sh stop' EXIT
export FIREBIRD_LOCK=${FIREBIRD_LOCK:-/tmp/kz-fblock-$$}
mkdir -p "$FIREBIRD_LOCK"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
