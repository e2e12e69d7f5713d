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
  "$target" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" 2>&1 | grep -E '^(stat::number_of_executed_units|==|SUMMARY)' || true
  test "${PIPESTATUS[0]}" -eq 0
  rm -rf "$corpus"
done
