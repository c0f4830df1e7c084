# The soak for one bitness: the demo product installed, repaired, upgraded
# and removed several times in one Wine prefix, then a search for anything
# left behind; and a test-only variant whose deferred action fails, which
# must roll the installation back and leave the user's files as they were.
# Usage: tier.sh x64|x86
set -uo pipefail
ARCH=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/check.sh"
source "$ROOT/e2e/lib/products.sh"

TIER="soak $ARCH"
CYCLES=${VANTOR_SOAK_CYCLES:-3}
DEMO_MSI=$(package_path "$ARCH" demo)
DEMO2_MSI=$(package_path "$ARCH" demo2)
LOGS=$WINE_DIR/soak-$ARCH-logs
CHOICES="DEFAULT_CONVERTER=3000 DEFAULT_COM_PORT=3 DEFAULT_PAR_PORT=1 SERIAL_NUMBER=AB123"

# Keys and services that only this family's products create.
OUR_KEYS=("$COMPANY_KEY"
    'SYSTEM\CurrentControlSet\Services\Vantor Auto Launch Service'
    'SYSTEM\CurrentControlSet\Services\kappa' 'SYSTEM\CurrentControlSet\Services\vantor'
    'SYSTEM\CurrentControlSet\Services\EventLog\System\kappa'
    'SYSTEM\CurrentControlSet\Services\EventLog\System\vantor')

DEMO2_CODE='{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E21}'

# Whether the engine holds a product as installed.
registered() { # product code
    key_exists "$ARCH" "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\\$1"
}

programs_dir() {
    if [ "$ARCH" = x86 ]; then echo "$WINEPREFIX/drive_c/Program Files (x86)"; else
        echo "$WINEPREFIX/drive_c/Program Files"; fi
}
company_dir() { echo "$(programs_dir)/Vantor Technology"; }

step() { # name expected-rc msiexec-arguments...
    local name=$1 want=$2 rc
    shift 2
    rc=$(msiexec_rc "$LOGS/$name.log" /qn "$@")
    expect_eq "msiexec $name" "$want" "$rc"
}

# Nothing of ours may stay once every product is gone.
expect_nothing_left() { # when
    local key leftovers
    # The service goes some time after msiexec's removal has returned
    # (lib/wine.sh); the next cycle's installation must not find it.
    wine_service_gone "$AUTO_LAUNCH_SERVICE" "$AUTO_LAUNCH_IMAGE" ||
        fail "$1: the service \"$AUTO_LAUNCH_SERVICE\" or its process is still there 10 s after the removal"
    for key in "${OUR_KEYS[@]}"; do
        key_exists "$ARCH" "$key" && fail "$1: HKLM\\$key is still there"
    done
    if [ -d "$(company_dir)" ]; then
        # The fixture dpinst.exe logs its runs beside itself, where the tests
        # read them (the real tool logs elsewhere): not the product's files.
        # The chosen converter's drivers are (their feature's condition
        # installs them, and the removal takes them away).
        leftovers=$(cd "$(company_dir)" && find . -type f ! -name dpinst.log ! -name dpinst-exit.txt |
            sort | head -20)
        [ -z "$leftovers" ] || fail "$1: files left under Vantor Technology: $(echo $leftovers)"
    fi
    leftovers=$(find "$WINEPREFIX/drive_c" \( -iname 'tessel.ini' -o -iname '*.config.tmp' \) 2>/dev/null | head -5)
    [ -z "$leftovers" ] || fail "$1: left behind: $leftovers"
}

case_install_repair_upgrade_remove_cycles() {
    local cycle demo2=""
    [ -f "$DEMO2_MSI" ] && demo2=$(winpath "$DEMO2_MSI")
    for cycle in $(seq "$CYCLES"); do
        step "install-$cycle" 0 /i "$(winpath "$DEMO_MSI")" $CHOICES
        expect_eq "cache after install $cycle" 3000 \
            "$(cache_of "$ARCH" "$DEMO_CODE" | sed -n 's/^DEFAULT_CONVERTER=//p')"
        step "repair-$cycle" 0 /i "$(winpath "$DEMO_MSI")" REINSTALL=ALL REINSTALLMODE=vomus \
            DEFAULT_CONVERTER=12
        expect_eq "cache after repair $cycle" 3000 \
            "$(cache_of "$ARCH" "$DEMO_CODE" | sed -n 's/^DEFAULT_CONVERTER=//p')"
        if [ -n "$demo2" ]; then
            step "upgrade-$cycle" 0 /i "$demo2" $CHOICES
            registered "$DEMO_CODE" && fail "cycle $cycle: 1.0 is still registered after the upgrade"
            registered "$DEMO2_CODE" || fail "cycle $cycle: 2.0 is not registered after the upgrade"
            step "remove-2.0-$cycle" 0 /x "$demo2"
        else
            step "remove-$cycle" 0 /x "$(winpath "$DEMO_MSI")"
        fi
        registered "$DEMO_CODE" && fail "cycle $cycle: 1.0 is still registered"
        expect_nothing_left "after cycle $cycle"
    done
}

# A package variant whose last deferred action fails: the engine rolls the
# whole installation back. The user's own file in the target folder stays
# byte for byte, and nothing of the product remains.
case_failed_installation_rolls_back() {
    local failing=$WINE_DIR/soak-$ARCH-failing.msi target notes
    cp "$DEMO_MSI" "$failing"
    # A deferred call of ConfigureHarbor without its data string answers 2.
    msibuild "$failing" -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('SoakFailure', 3073, 'VantorSetup', 'ConfigureHarbor')" &&
        msibuild "$failing" -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('SoakFailure', 'NOT Installed', 6590)" ||
        { fail "cannot build the failing variant"; return; }
    target="$(company_dir)/Vantor Demo"
    mkdir -p "$target"
    notes="$target/my notes.txt"
    printf 'the user wrote this\r\n' >"$notes"
    step install-failing 1603 /i "$(winpath "$failing")" $CHOICES
    expect_eq "failing action" 3 "$(action_result "$LOGS/install-failing.log" SoakFailure | sed 's/^0$/3/')"
    expect_eq "the user's file" "the user wrote this"$'\r' "$(cat "$notes" 2>/dev/null)"
    rm -f "$notes"
    rmdir "$target" "$(company_dir)" 2>/dev/null
    expect_nothing_left "after the rollback"
}

CASES=$(declare -F | sed -n 's/^declare -f \(case_.*\)/\1/p')

reason=$(wine_usable) || give_up "$TIER" "$reason"
[ -f "$DEMO_MSI" ] || give_up "$TIER" "missing $DEMO_MSI (run ./run build)"
if [ "$ARCH" = x86 ] && ! wine32_loader_runs; then
    CASES_SKIPPED=$(wc -w <<<"$CASES")
    summary "$TIER" "this machine cannot execute 32-bit code"
    exit 0
fi
wine_prefix "soak-$ARCH" || give_up "$TIER" "cannot make a Wine prefix"
trap wine_stop EXIT
rm -rf "$LOGS" && mkdir -p "$LOGS"
for case in $CASES; do
    run_case "$case"
    [ "$CASE_FAILED" = 0 ] || echo "  (logs: $LOGS)"
done
summary "$TIER"
[ "$CASES_FAILED" = 0 ]
