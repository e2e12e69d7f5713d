#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR/bin for SECONDS each, from its seed corpus when it has one.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
shopt -s nullglob
for target in "$build"/bin/*_fuzz; do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  seeds="fuzz/seeds/${name%_fuzz}"
  dirs=("$corpus")
  [[ -d $seeds ]] && dirs+=("$seeds")
  echo "fuzz smoke: $name for ${seconds}s"
  log=$(mktemp)
  status=0
  "$target" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|==|SUMMARY)' "$log" || true
  if ((status != 0)); then
    echo "fuzz smoke: $name failed with status $status; its last lines:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
