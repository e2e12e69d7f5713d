#!/usr/bin/env bash
# The layering rules (scripts/check_rules.py holds their table, scripts/check_rules_test.py tests
# it): which folder may include which, no Qt header below ui/, no non-test source over 600 lines.
# One line per violation (file:line: rule); non-zero when there is any. Function sizes are checked
# by clang-tidy with the naming rule (scripts/check-tidy.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 scripts/check_rules_test.py 2>&1 | tail -n 1
if ! python3 scripts/check_rules.py .; then
  echo "check-rules: the rules above are broken" >&2
  exit 1
fi
echo "check-rules: every include and file keeps the rules"
