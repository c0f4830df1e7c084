#!/usr/bin/env bash
# ./run demo: the demo product installed, reported on and removed again, in a
# fresh Wine prefix kept at build/wine/demo-<arch> for a look afterwards.
#
# The report is a list of sections, one function each (report_*). Each part
# of the system brings its own in e2e/demo.d/NN-name.sh, which adds its
# functions to the lists below: BEFORE_REPORT (before the installation),
# INSTALL_REPORT, REPAIR_REPORT, REMOVE_REPORT, and EXTRA_STEPS (whole steps
# of their own, run after the repair and before the removal).
#
# Settings (environment): VANTOR_DEMO_ARCH, x64 (default) or x86.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/products.sh"

ARCH=${VANTOR_DEMO_ARCH:-x64}
MSI=$(package_path "$ARCH" demo)
CHOICES="DEFAULT_CONVERTER=3000 DEFAULT_COM_PORT=3 DEFAULT_PAR_PORT=1 SERIAL_NUMBER=AB123"

REPAIR_CHOICES="DEFAULT_CONVERTER=12 DEFAULT_COM_PORT=4 DEFAULT_PAR_PORT=2 SERIAL_NUMBER=CD456"

BEFORE_REPORT=()
INSTALL_REPORT=(report_actions report_action_log report_cache report_files)
REPAIR_REPORT=(report_actions report_action_log report_cache)
EXTRA_STEPS=()
REMOVE_REPORT=(report_actions report_action_log report_cache report_company_key)

section() { printf '\n  -- %s\n' "$1"; }
item() { printf '     %s\n' "$*"; }

describe_result() { # "Return value" of the log
    case $1 in
        1) echo "returned 1 (success)" ;;
        "not run") echo "not run (its condition was false)" ;;
        *) echo "returned $1 (failure)" ;;
    esac
}

report_actions() {
    section "custom actions"
    while IFS='=' read -r action result; do
        item "$(printf '%-24s %s' "$action" "$(describe_result "$result")")"
    done < <(custom_action_results "$LOG" "$MSI")
}

report_action_log() {
    local lines
    section "action log (VantorCustomAction lines)"
    lines=$(action_log_lines "$LOG")
    if [ -n "$lines" ]; then
        while IFS= read -r line; do item "$line"; done <<<"$lines"
    else
        item "(none)"
    fi
}

report_cache() {
    local view=""
    [ "$ARCH" = x86 ] && view=" (32-bit view: Wow6432Node)"
    section "registry cache HKLM\\$COMPANY_KEY\\$DEMO_CODE$view"
    while IFS= read -r line; do item "$line"; done < <(cache_of "$ARCH" "$DEMO_CODE")
}

report_company_key() {
    section "company key HKLM\\$COMPANY_KEY"
    if key_exists "$ARCH" "$COMPANY_KEY"; then item "present"; else item "gone"; fi
}

report_files() {
    local file
    file=$(installed_file "$ARCH" "Vantor Demo")
    section "installed files"
    if [ -f "$file" ]; then item "${file#"$WINEPREFIX"/}"; else item "(none)"; fi
}

step() { # title log msiexec-arguments...
    local title=$1 rc
    LOG=$2
    shift 2
    rc=$(msiexec_rc "$LOG" /qn "$@")
    printf '\n== %s: msiexec answered %s\n' "$title" "$rc"
    [ "$rc" = 0 ]
}

for part in "$ROOT"/e2e/demo.d/*.sh; do
    [ -f "$part" ] && source "$part"
done

if ! reason=$(wine_usable); then
    echo "demo: $reason"
    exit 1
fi
[ -f "$MSI" ] || { echo "demo: missing $MSI (run ./run build)"; exit 1; }
echo "Vantor Demo ($ARCH) in a fresh Wine prefix: build/wine/demo-$ARCH"
wine_prefix "demo-$ARCH" || { echo "demo: cannot make a Wine prefix"; exit 1; }
trap wine_stop EXIT
if ! reason=$(can_run_bitness "$ARCH"); then
    echo "demo: $reason"
    exit 1
fi

LOGS=$WINE_DIR/demo-$ARCH-logs
rm -rf "$LOGS" && mkdir -p "$LOGS"
status=0

for report in "${BEFORE_REPORT[@]}"; do "$report"; done

step "install ($CHOICES)" "$LOGS/install.log" /i "$(winpath "$MSI")" $CHOICES || status=1
for report in "${INSTALL_REPORT[@]}"; do "$report"; done

# A repair with other choices: the choices cached at installation win.
step "repair ($REPAIR_CHOICES)" "$LOGS/repair.log" /i "$(winpath "$MSI")" REINSTALL=ALL \
    REINSTALLMODE=vomus $REPAIR_CHOICES || status=1
for report in "${REPAIR_REPORT[@]}"; do "$report"; done

for extra in "${EXTRA_STEPS[@]}"; do "$extra" || status=1; done

step "uninstall" "$LOGS/uninstall.log" /x "$(winpath "$MSI")" || status=1
for report in "${REMOVE_REPORT[@]}"; do "$report"; done

printf '\nlogs: %s\n' "$LOGS"
exit $status
