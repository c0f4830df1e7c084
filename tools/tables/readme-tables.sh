#!/usr/bin/env bash
# Compares the README's reference tables with what vantor-tables prints now,
# or (--update) writes the tool's output into the README. The section lies
# between the two marker lines below; everything else stays untouched.
#   tools/tables/readme-tables.sh [--update] [README] [TOOL]
# Exit 0 equal (or updated), 1 the section differs, 2 no section or no tool.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
readme=${1:-$ROOT/README.md}
tool=${2:-$ROOT/build/host/tools/vantor-tables}
BEGIN='<!-- reference tables: printed by build/host/tools/vantor-tables, do not edit -->'
END='<!-- end of reference tables -->'

[ -x "$tool" ] || { echo "readme-tables: no $tool (./run build)"; exit 2; }
if [ "$(grep -cxF "$BEGIN" "$readme")" != 1 ] || [ "$(grep -cxF "$END" "$readme")" != 1 ]; then
    echo "readme-tables: $readme has no single section between the markers"
    exit 2
fi
now=$(mktemp)
trap 'rm -f "$now" "$now.readme"' EXIT
"$tool" >"$now" || { echo "readme-tables: $tool failed"; exit 2; }

if [ $update = 1 ]; then
    awk -v begin="$BEGIN" -v end="$END" -v file="$now" '
        $0 == begin { print; while ((getline line < file) > 0) print line; skip = 1; next }
        $0 == end { skip = 0 }
        !skip' "$readme" >"$now.readme" && cat "$now.readme" >"$readme"
    exit 0
fi
if diff -u --label "README ($readme)" --label "vantor-tables" \
    <(awk -v begin="$BEGIN" -v end="$END" '$0 == end { on = 0 } on; $0 == begin { on = 1 }' "$readme") \
    "$now"; then
    exit 0
fi
echo "readme-tables: the README's reference tables differ from the code's; tools/tables/readme-tables.sh --update"
exit 1
