#!/usr/bin/env bash
# Runs each fuzz target of a fuzz build for a bounded time (KZ_FUZZ_SECONDS,
# 15 by default), as many at once as there are cores. The committed seeds in
# tests/fuzz/corpus/<target> are only read; new inputs go to
# <build>/corpus/<target> and a failing input to <build>/findings/<target>/.
# Usage: scripts/fuzz.sh [fuzz build]
set -euo pipefail
fuzz=$(realpath "${1:-build-fuzz}")
seconds=${KZ_FUZZ_SECONDS:-15}
cd "$(dirname "$0")/.."
targets=(prepara_sql escolhe_conexao settings_line)

run_one() {
  local t=$1
  mkdir -p "$fuzz/corpus/$t" "$fuzz/findings/$t" "$fuzz/logs"
  # -timeout: an input that takes this many seconds is a finding (a hang).
  "$fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$fuzz/findings/$t/" "$fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
    >"$fuzz/logs/$t.log" 2>&1
}

rm -rf "$fuzz/findings" "$fuzz/logs"
pids=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  run_one "$t" &
  pids+=("$!")
done

failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzz $t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$fuzz/logs/$t.log" \
      | grep -o '[0-9]*$') inputs in ${seconds}s, no finding"
  else
    failed=1
    echo "fuzz $t: FINDING (log $fuzz/logs/$t.log)" >&2
    grep -v '^#' "$fuzz/logs/$t.log" | tail -40 >&2
    for f in "$fuzz/findings/$t"/*; do
      [ -e "$f" ] && echo "  reproduce: $fuzz/${t}_fuzz $f" >&2
    done
  fi
done
exit "$failed"
