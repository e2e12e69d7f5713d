#!/usr/bin/env bash
# The layering rules (scripts/check_rules.py holds their table): which folder may include which,
# no Qt header below ui/, no non-test source over 600 lines; then no function over 80 lines,
# counted by clang-tidy's readability-function-size over the compile database of the clang build
# (build-clang, made by scripts/test.sh), so a data table at namespace scope is no function. That
# clang-tidy run has a configuration of its own: the naming check of .clang-tidy stays as it is.
# One line per violation (file:line: rule); non-zero when there is any.
#   bash scripts/check-rules.sh [PATH...]      BUILD=dir to use another clang build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-clang}
paths=("$@")
if ((${#paths[@]} == 0)); then
  paths=(platform runtime store ledger loader ui app generators tools testing bench fuzz)
fi
failed=0
python3 scripts/check_rules.py . || failed=1

if [[ ! -f $build/compile_commands.json ]]; then
  echo "check-rules: no $build/compile_commands.json; configure the clang build first:" >&2
  echo "  CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DPENNACLE_THREAD_SAFETY=ON" >&2
  exit 2
fi
root=$(pwd)
alternation=$(printf '%s|' "${paths[@]}")
regex="^$root/(${alternation%|})/"
mapfile -t files < <(python3 -c '
import json, re, sys
seen = set()
for entry in json.load(open(sys.argv[1])):
    f = entry["file"]
    if re.match(sys.argv[2], f) and f not in seen:
        seen.add(f)
        print(f)
' "$build/compile_commands.json" "$regex")
if ((${#files[@]} == 0)); then
  echo "check-rules: no compiled sources under ${paths[*]}" >&2
  exit 2
fi
config='{Checks: "-*,readability-function-size",
         CheckOptions: [{key: readability-function-size.LineThreshold, value: 80}]}'
echo "check-rules: function sizes in ${#files[@]} files under ${paths[*]}"
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 8 clang-tidy -p "$build" --quiet --checks='-*,readability-function-size' \
    --config="$config" --header-filter="$regex" 2> >(grep -v "warnings generated" >&2) |
  python3 scripts/check_rules.py --function-size . || status=$?
if ((status > 1)); then
  echo "check-rules: clang-tidy could not read every source (errors above)" >&2
  exit 2
fi
((status == 0)) || failed=1
if ((failed)); then
  echo "check-rules: the rules above are broken" >&2
  exit 1
fi
echo "check-rules: every include, file and function keeps the rules"
