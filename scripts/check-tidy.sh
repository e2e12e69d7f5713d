#!/usr/bin/env bash
# The checks of .clang-tidy, in one pass: the naming rule and no function over 80 lines (a data
# table at namespace scope is no function). clang-tidy runs over the sources of the given paths and
# the headers they include, through the compile database of the clang build (build-clang, made by
# scripts/test.sh). With no paths, every folder of the program. Any finding fails.
#   bash scripts/check-tidy.sh [PATH...]      BUILD=dir to use another clang build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-clang}
paths=("$@")
if ((${#paths[@]} == 0)); then
  paths=(platform runtime store ledger loader ui charts app books generators tools testing bench fuzz)
fi
if [[ ! -f $build/compile_commands.json ]]; then
  echo "check-tidy: no $build/compile_commands.json; configure the clang build first:" >&2
  echo "  CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DPENNACLE_THREAD_SAFETY=ON" >&2
  exit 2
fi
root=$(pwd)
alternation=$(printf '%s|' "${paths[@]}")
regex="^$root/(${alternation%|})/"
# Each library's headers are reached through the links of its include root (cmake/Pennacle.cmake).
headers="^($root/|$(realpath -m "$build")/include/[^/]+/)(${alternation%|})/"
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
  echo "check-tidy: no compiled sources under ${paths[*]}" >&2
  exit 2
fi
echo "check-tidy: ${#files[@]} files under ${paths[*]}"
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 8 clang-tidy -p "$build" --quiet --header-filter="$headers" 2> >(grep -v "warnings generated" >&2)
echo "check-tidy: every name keeps the rule and every function fits"
