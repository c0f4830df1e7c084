# The package tier for one bitness: the demo products installed, repaired and
# removed by Wine's msiexec, checked through the verbose log and the registry
# of the prefix. Usage: tier.sh x64|x86
#
# Settings (environment): VANTOR_CASES, an extended regex: only the cases
# whose names match it run (all by default).
set -uo pipefail
ARCH=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/check.sh"
source "$ROOT/e2e/lib/products.sh"

TIER="package $ARCH"
DEMO=$(winpath "$(package_path "$ARCH" demo)")
COMPANION=$(winpath "$(package_path "$ARCH" companion)")
LOGS=$WINE_DIR/package-$ARCH-logs
# 3000: one of the converters the demo offers (CONVERTER_LIST).
CHOICES="DEFAULT_CONVERTER=3000 DEFAULT_COM_PORT=3 DEFAULT_PAR_PORT=1 SERIAL_NUMBER=AB123"
VIEW=$(reg_view "$ARCH")
DEMO_FOLDER=$(program_folder "$ARCH" 'Vantor Technology\Vantor Demo')
# The cache: the four device choices, the demo's profile and install folder.
CACHED=$'DEFAULT_COM_PORT=3\nDEFAULT_CONVERTER=3000\nDEFAULT_HARBOR_CONFIG=harbor.cfg.ini\nDEFAULT_PAR_PORT=1\nINSTALLDIR='"$DEMO_FOLDER"$'\nSERIAL_NUMBER=AB123'

# msi STEP ARGS...: msiexec with a log at $LOGS/CASE.STEP.log; sets RC and LOG.
msi() {
    LOG=$LOGS/$CASE_NAME.$1.log
    shift
    RC=$(msiexec_rc "$LOG" /qn "$@")
}

# reg ARGS...: a change to the registry that a case relies on.
reg_do() { "$WINE" reg "$@" /reg:$VIEW </dev/null >/dev/null 2>&1 || fail "setup: reg $*"; }

# Every case starts with nothing installed and no cache.
install() { # step package [properties...]
    msi "$1" /i "${@:2}"
}
uninstall() { # step package
    msi "$1" /x "$2"
}

# Every product code of this family begins so (e2e/CMakeLists.txt).
FAMILY_CODE='{5A0E2D61-7C3B-4F4B-9D2E-'
# Products of this family the engine holds as installed, one code a line;
# fails when reg.exe cannot list them (it answers "not found" now and then on
# a busy machine: a second look decides).
registered_products() {
    local key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' out
    out=$(wine_capture reg query "$key" /reg:$VIEW) ||
        { sleep 1; out=$(wine_capture reg query "$key" /reg:$VIEW); } || return 1
    # The example product (cases-example.sh) has a code of its own.
    { grep -o "$FAMILY_CODE[0-9A-F]*}" <<<"$out"; grep -oF "${EXAMPLE_CODE:-no example}" <<<"$out"; } | sort -u
    return 0
}

# reset_state CASE: removes every product of the family that the engine
# holds as installed, by its product code, whatever the cases before did or
# were told, and waits until their service has gone; RESET_PROBLEMS says what
# stays. The editions of the demo share one product code (each has a
# package code of its own): with the English one still registered, msiexec
# /i of the German package answers 1638.
reset_state() {
    local codes code rc n=0
    RESET_PROBLEMS=()
    codes=$(registered_products) || RESET_PROBLEMS+=("reg.exe cannot list the installed products")
    for code in $codes; do
        n=$((n + 1))
        rc=$(msiexec_rc "$LOGS/$1.reset-$n.log" /qn /x "$code")
        [ "$rc" = 0 ] || RESET_PROBLEMS+=("removal of $code answered $rc (log: $1.reset-$n.log)")
    done
    # With no product left, the auto-launch service is either on its way out
    # (its process still ending, the service marked for deletion: it goes
    # some time after the removal returned, lib/wine.sh) or left behind:
    # after a removal that failed and rolled back, Wine's next removal leaves
    # the service registered, with most files. Stopped and deleted here (both
    # harmless on one on its way out), and waited for: an installation
    # before it has gone creates no service of its own.
    if wine_capture sc query "$AUTO_LAUNCH_SERVICE" >"$LOGS/$1.reset-service.txt"; then
        wine_capture sc stop "$AUTO_LAUNCH_SERVICE" >>"$LOGS/$1.reset-service.txt"
        wine_capture sc delete "$AUTO_LAUNCH_SERVICE" >>"$LOGS/$1.reset-service.txt"
    else
        rm -f "$LOGS/$1.reset-service.txt"
    fi
    wine_service_gone "$AUTO_LAUNCH_SERVICE" "$AUTO_LAUNCH_IMAGE" ||
        RESET_PROBLEMS+=("the service \"$AUTO_LAUNCH_SERVICE\" or its process is still there 10 s after the removal (log: $1.reset-service.txt)")
    "$WINE" reg delete "HKLM\\$COMPANY_KEY" /f /reg:$VIEW </dev/null >/dev/null 2>&1
    codes=$(registered_products) || RESET_PROBLEMS+=("reg.exe cannot list the installed products")
    for code in $codes; do
        RESET_PROBLEMS+=("$code is still installed")
    done
    return 0
}

case_install_caches_the_choices() {
    install install "$DEMO" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    expect_eq "SetVantorDeferredData" 1 "$(action_result "$LOG" SetVantorDeferredData)"
    expect_eq "CacheProperties" 1 "$(action_result "$LOG" CacheProperties)"
    expect_eq "ClearPropertiesCache" "not run" "$(action_result "$LOG" ClearPropertiesCache)"
    expect_eq "cache after install" "$CACHED" "$(cache_of "$ARCH" "$DEMO_CODE")"
    [ -f "$(installed_file "$ARCH" "Vantor Demo")" ] || fail "the product's file is not installed"
}

case_install_caches_an_empty_serial_number() {
    install install-no-serial "$DEMO" DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=2
    expect_eq "msiexec install" 0 "$RC"
    expect_eq "cache after install" \
        $'DEFAULT_COM_PORT=2\nDEFAULT_CONVERTER=81\nDEFAULT_HARBOR_CONFIG=harbor.cfg.ini\nDEFAULT_PAR_PORT=\nINSTALLDIR='"$DEMO_FOLDER"$'\nSERIAL_NUMBER=' \
        "$(cache_of "$ARCH" "$DEMO_CODE")"
}

case_repair_keeps_the_first_choices() {
    install install "$DEMO" $CHOICES
    msi repair /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus \
        DEFAULT_CONVERTER=3002 DEFAULT_COM_PORT=4 DEFAULT_PAR_PORT=2 SERIAL_NUMBER=CD456
    expect_eq "msiexec repair" 0 "$RC"
    expect_eq "CacheProperties" "not run" "$(action_result "$LOG" CacheProperties)"
    expect_eq "ClearPropertiesCache" "not run" "$(action_result "$LOG" ClearPropertiesCache)"
    expect_eq "cache after repair" "$CACHED" "$(cache_of "$ARCH" "$DEMO_CODE")"
}

case_uninstall_removes_the_product_and_company_keys() {
    install install "$DEMO" $CHOICES
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "ClearPropertiesCache" 1 "$(action_result "$LOG" ClearPropertiesCache)"
    expect_eq "CacheProperties" "not run" "$(action_result "$LOG" CacheProperties)"
    expect_eq "cache after uninstall" "(no key)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    key_exists "$ARCH" "$COMPANY_KEY" && fail "the company key is still there"
}

case_uninstall_keeps_the_companion_product_cache() {
    install install "$DEMO" $CHOICES
    install install-companion "$COMPANION" DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=5
    expect_eq "msiexec install companion" 0 "$RC"
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "ClearPropertiesCache" 1 "$(action_result "$LOG" ClearPropertiesCache)"
    expect_eq "demo cache" "(no key)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    expect_eq "companion cache" \
        $'DEFAULT_COM_PORT=5\nDEFAULT_CONVERTER=81\nDEFAULT_HARBOR_CONFIG=harbor.cfg.ini\nDEFAULT_PAR_PORT=\nINSTALLDIR='"$(program_folder "$ARCH" 'Vantor Technology\Vantor Demo Companion')"$'\nSERIAL_NUMBER=' \
        "$(cache_of "$ARCH" "$COMPANION_CODE")"
    uninstall uninstall-companion "$COMPANION"
    expect_eq "msiexec uninstall companion" 0 "$RC"
    key_exists "$ARCH" "$COMPANY_KEY" && fail "the company key is still there after the last product"
}

case_uninstall_keeps_a_key_it_does_not_own() {
    local foreign='{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9EF0}'
    install install "$DEMO" $CHOICES
    reg_do add "HKLM\\$COMPANY_KEY\\$foreign" /v SERIAL_NUMBER /d ZZ9 /f
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "demo cache" "(no key)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    expect_eq "foreign key" "SERIAL_NUMBER=ZZ9" "$(cache_of "$ARCH" "$foreign")"
}

case_uninstall_without_a_cache_succeeds() {
    install install "$DEMO" $CHOICES
    reg_do delete "HKLM\\$COMPANY_KEY" /f
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "ClearPropertiesCache" 1 "$(action_result "$LOG" ClearPropertiesCache)"
    [ ! -e "$(installed_file "$ARCH" "Vantor Demo")" ] || fail "the product's file is still there"
}

case_uninstall_fails_when_the_cache_cannot_be_removed() {
    install install "$DEMO" $CHOICES
    # A subkey makes the product key undeletable.
    reg_do add "HKLM\\$COMPANY_KEY\\$DEMO_CODE\\Pinned" /f
    msi uninstall-refused /x "$DEMO"
    expect_eq "msiexec uninstall" 1603 "$RC"
    # A failed action ends with "Return value 3" on Windows, 0 under Wine.
    expect_in "ClearPropertiesCache result" '^(0|3)$' "$(action_result "$LOG" ClearPropertiesCache)"
    [ -f "$(installed_file "$ARCH" "Vantor Demo")" ] || fail "the failed removal did not roll back"
    expect_eq "cache kept" "$CACHED" "$(cache_of "$ARCH" "$DEMO_CODE")"
    reg_do delete "HKLM\\$COMPANY_KEY\\$DEMO_CODE\\Pinned" /f
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall after unpinning" 0 "$RC"
}

# Each part of the system brings its cases in a file of its own.
for cases in "$ROOT"/e2e/package/cases-*.sh; do
    [ -f "$cases" ] && source "$cases"
done

# VANTOR_CASES (an extended regex) runs only the cases whose names match.
CASES=$(declare -F | sed -n 's/^declare -f \(case_.*\)/\1/p')
if [ -n "${VANTOR_CASES:-}" ]; then
    CASES=$(grep -E -- "$VANTOR_CASES" <<<"$CASES")
    [ -n "$CASES" ] || give_up "$TIER" "VANTOR_CASES=$VANTOR_CASES matches no case"
fi

skip_all() { # reason
    CASES_SKIPPED=$(wc -w <<<"$CASES")
    summary "$TIER" "$1"
    exit 0
}

reason=$(wine_usable) || give_up "$TIER" "$reason"
for package in demo companion; do
    [ -f "$(package_path "$ARCH" $package)" ] ||
        give_up "$TIER" "missing $(package_path "$ARCH" $package) (run ./run build)"
done
if [ "$ARCH" = x86 ] && ! wine32_loader_runs; then skip_all "this machine cannot execute 32-bit code"; fi
wine_prefix "package-$ARCH" || give_up "$TIER" "cannot make a Wine prefix"
trap wine_stop EXIT
reason=$(can_run_bitness "$ARCH")
case $? in
    0) ;;
    1) skip_all "$reason" ;;
    *) give_up "$TIER" "$reason" ;;
esac
rm -rf "$LOGS" && mkdir -p "$LOGS"

for case in $CASES; do
    reset_state "$case"
    if [ ${#RESET_PROBLEMS[@]} -gt 0 ]; then
        # The case would start from another's product: not run, failed.
        CASE_NAME=$case
        for problem in "${RESET_PROBLEMS[@]}"; do fail "before the case: $problem"; done
        CASES_FAILED=$((CASES_FAILED + 1))
        echo "  (logs: $LOGS/$case.*)"
        continue
    fi
    run_case "$case"
    [ "$CASE_FAILED" = 0 ] || echo "  (logs: $LOGS/$case.*)"
done
summary "$TIER"
[ "$CASES_FAILED" = 0 ]
