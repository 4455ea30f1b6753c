#!/usr/bin/env bash
# coverage-report.sh BUILD_DIR: line and branch coverage of src/ per subsystem
# (src/<subsystem>/, back ends under drive/ counted with drive), from the .gcda
# files that a test run left in BUILD_DIR (built with -DOFS_COVERAGE=ON).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$1" && pwd)"
summary="$build/coverage-summary.json"

gcovr --root "$root" --object-directory "$build" --filter "$root/src/" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$summary" --html-details "$build/coverage.html" >/dev/null

python3 - "$summary" <<'PY'
import json, sys
from collections import defaultdict
totals = defaultdict(lambda: [0, 0, 0, 0])  # lines covered, lines, branches covered, branches
for f in json.load(open(sys.argv[1]))["files"]:
    parts = f["filename"].split("/")
    sub = parts[1] if len(parts) > 2 else "(top)"
    if sub == "app" and len(parts) > 3 and parts[2] == "ui":
        sub = "app/ui"
    t = totals[sub]
    t[0] += f["line_covered"]; t[1] += f["line_total"]
    t[2] += f["branch_covered"]; t[3] += f["branch_total"]
def pct(a, b):
    return f"{100.0 * a / b:5.1f}%" if b else "   -  "
print(f"{'subsystem':<10} {'lines':>18} {'branches':>18}")
all_ = [0, 0, 0, 0]
for sub in sorted(totals):
    t = totals[sub]
    all_ = [x + y for x, y in zip(all_, t)]
    print(f"{sub:<10} {pct(t[0], t[1])} {t[0]:>5}/{t[1]:<5} {pct(t[2], t[3])} {t[2]:>5}/{t[3]:<5}")
print(f"{'all':<10} {pct(all_[0], all_[1])} {all_[0]:>5}/{all_[1]:<5} {pct(all_[2], all_[3])} {all_[2]:>5}/{all_[3]:<5}")
PY
echo "details: $build/coverage.html"
