#!/usr/bin/env bash
# The naming rule of .clang-tidy: clang-tidy with only readability-identifier-naming over the
# sources of the given paths and the headers beside them, through the compile database of the clang
# build (build-clang, made by scripts/test.sh). With no paths, the folders that keep the rule.
#   bash scripts/check-naming.sh [PATH...]      BUILD=dir to use another clang build
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-clang}
paths=("$@")
if ((${#paths[@]} == 0)); then
  paths=(platform runtime store tools testing bench fuzz ui app)
fi
if [[ ! -f $build/compile_commands.json ]]; then
  echo "check-naming: no $build/compile_commands.json; configure the clang build first:" >&2
  echo "  CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DPENNACLE_THREAD_SAFETY=ON" >&2
  exit 2
fi
root=$(pwd)
alternation=$(printf '%s|' "${paths[@]}")
regex="^$root/(${alternation%|})"
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
  echo "check-naming: no compiled sources under ${paths[*]}" >&2
  exit 2
fi
echo "check-naming: ${#files[@]} files under ${paths[*]}"
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 8 clang-tidy -p "$build" --quiet --header-filter="$regex" 2> >(grep -v "warnings generated" >&2)
echo "check-naming: every name keeps the rule"
