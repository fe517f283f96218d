#!/usr/bin/env bash
# Runs the benchmark: the batch in both return-queue modes (per-entry, and
# KZ_RETORNO=lote), each against a replay of its own statements, and each as
# one block per commitment (KZ_ENVIO=bloco), for 1,000 and 5,000 commitments;
# 20,000 as well with --big or BENCH_BIG=1.
# Usage: scripts/bench.sh [build-dir] [kz-bench options, see bench/bench_main.cpp]
# With --server (or --atraso-us U, a latency added each way) the runs go
# through a private server on 127.0.0.1 that this script starts and stops
# (scripts/fbserver.sh).
set -euo pipefail
build=${1:-build}
shift || true
cd "$(dirname "$0")/.."
args=("$@")
if [ "${BENCH_BIG:-0}" = 1 ]; then args+=(--big); fi
work=$(mktemp -d /tmp/kz-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
for a in ${args[@]+"${args[@]}"}; do
  if [ "$a" = --server ] || [ "$a" = --atraso-us ]; then
    [ -z "${KZ_TEST_FB_DIR:-}" ] || continue
    server=$(scripts/fbserver.sh start)
    eval "$server"
    trap 'scripts/fbserver.sh stop "$KZ_TEST_FB_DIR"; rm -rf "$work"' EXIT
  fi
done
# Copies of the two programs: a rebuild during a long run must not change them.
cp "$build/kz-bench" "$build/cancela-empenhos" "$work/"
# A private lock folder: the embedded engine must not meet a server's.
export FIREBIRD_LOCK="$work/lock"
mkdir -p "$FIREBIRD_LOCK"
"$work/kz-bench" --batch "$work/cancela-empenhos" ${args[@]+"${args[@]}"}
