# The device choices over the product's life (package/VantorCache.wxi,
# VantorMajorUpgrade.wxi), sourced by tier.sh: silent major upgrades, a failed
# upgrade, a change in place, a repair after it, a small update, the profile,
# the choices refused before anything is installed, and the drivers feature of
# the chosen converter. Uses the helpers of the other cases files (patch: the
# applications; choice: the upgrade's codes; system: the install folder).
#
# Each row installs Vantor Demo 1.0 with LIFE_CHOICES first (or nothing, "-"),
# runs one step, checks msiexec's code and what the row is about. What a
# silent upgrade of a fleet does: no choices on its command line, and the
# machine's own ones (the serial number differs per machine) must survive.

LIFE_CHOICES="DEFAULT_CONVERTER=3000 DEFAULT_COM_PORT=3 DEFAULT_PAR_PORT=1 SERIAL_NUMBER=SN-1001 DEFAULT_HARBOR_CONFIG=coastal.ini"
DEMO101=$(winpath "$(package_path "$ARCH" demo101)")
# The applications' view of LIFE_CHOICES (the demo is English: country 44).
# Converter 3000 is 3200 for layout 1 and 3000 for the others; 81 has no
# layout 2 code.
life_apps() { # converter serial version
    case $1 in
        3000) expected_apps 3200 3000 3000 ", port 0, country 44, serial \"$2\", version $3" ;;
        81) expected_apps 81 0 81 ", port 0, country 44, serial \"$2\", version $3" ;;
    esac
}

# life_cache CONVERTER COM PAR SERIAL PROFILE: the cache as cache_of lists
# it, with the folder of the first installation.
life_cache() {
    printf '%s\n' "DEFAULT_CONVERTER=$1" "DEFAULT_COM_PORT=$2" "DEFAULT_PAR_PORT=$3" \
        "SERIAL_NUMBER=$4" "DEFAULT_HARBOR_CONFIG=$5" "INSTALLDIR=$(system_windir)" | sort
}

# The product codes that have a cache key, one a line.
life_cache_keys() {
    wine_capture reg query "HKLM\\$COMPANY_KEY" /reg:$VIEW | grep -o '\\{[0-9A-F-]*}$' | tr -d '\\' | sort
}

life_harbor() { # the profile that tessel.ini is a copy of
    local harbor file
    harbor=$(system_dir)/Harbor
    for file in harbor.cfg.ini coastal.ini; do
        cmp -s "$harbor/$file" "$harbor/tessel.ini" && { echo "$file"; return; }
    done
    echo "(tessel.ini: $(cat "$harbor/tessel.ini" 2>&1 | head -c 80))"
}

life_drivers() { ls "$(system_dir)/Drivers" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'; }

# Records that no installation writes, so that what a step writes shows.
life_stamp_apps() {
    local app
    for app in "${PATCH_APPS[@]}"; do
        "$PATCH_TOOL" stamp "$(apps_dir)/${app%:*}" --converter 1 --port 1 --country 1 \
            --serial ZZZZ --version 1 >/dev/null || fail "setup: stamp ${app%:*}"
    done
}

# --- checks -----------------------------------------------------------------

# 2.0 replaced 1.0 with 1.0's choices and profile, and is the only product
# with a cache key.
life_upgraded_with_the_first_choices() {
    expect_eq "1.0 after" absent "$(product_state "$DEMO_CODE")"
    expect_eq "2.0 after" registered "$(product_state "$DEMO2_CODE")"
    expect_in "carry-over line" "^VantorCustomAction: Choices carried over from \\$DEMO_CODE \\(1\\.0\\.0\\): DEFAULT_CONVERTER=3000, DEFAULT_PAR_PORT=1, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, DEFAULT_HARBOR_CONFIG=coastal\\.ini" \
        "$(action_log_lines "$LOG")"
    expect_eq "applications" "$(life_apps 3000 SN-1001 2000)" "$(run_apps)"
    expect_eq "cache keys" "$DEMO2_CODE" "$(life_cache_keys)"
    expect_eq "2.0's cache" "$(life_cache 3000 3 1 SN-1001 coastal.ini)" "$(cache_of "$ARCH" "$DEMO2_CODE")"
    expect_eq "profile" coastal.ini "$(life_harbor)"
    expect_eq "drivers" US3000.txt "$(life_drivers)"
}

# The choices given on the upgrade's command line win; the others carry over.
life_upgraded_with_the_given_choices() {
    expect_eq "2.0 after" registered "$(product_state "$DEMO2_CODE")"
    expect_in "carry-over line" "^VantorCustomAction: Choices carried over from \\$DEMO_CODE \\(1\\.0\\.0\\): .*; kept as given: DEFAULT_CONVERTER, SERIAL_NUMBER$" \
        "$(action_log_lines "$LOG")"
    expect_eq "applications" "$(life_apps 81 SN-2002 2000)" "$(run_apps)"
    expect_eq "cache keys" "$DEMO2_CODE" "$(life_cache_keys)"
    expect_eq "2.0's cache" "$(life_cache 81 3 1 SN-2002 coastal.ini)" "$(cache_of "$ARCH" "$DEMO2_CODE")"
    # 1.0's US3000.txt stays under Wine: its engine registers a feature that
    # an action chose as absent, so 1.0's removal leaves it.
    expect_in "drivers" '(^| )UL81\.txt( |$)' "$(life_drivers)"
}

# 2.0 failed after 1.0's removal. What the includes do: 1.0 is removed inside
# the transaction, and a removal that is part of an upgrade keeps its cache
# key. Windows' rollback then gives 1.0 back with its choices; Wine's engine
# runs the nested removal at once and cannot undo it (README, "What Wine does
# differently"): there 1.0 is gone, and the key's fate is shown on a removal
# with UPGRADINGPRODUCTCODE, which Wine's nested removal does not set.
life_failed_upgrade() {
    local sequence
    sequence=$(msiinfo export "$(package_path "$ARCH" demo2)" InstallExecuteSequence | tr -d '\r')
    expect_eq "InstallInitialize" 1500 "$(awk -F'\t' '$1 == "InstallInitialize" { print $3 }' <<<"$sequence")"
    expect_eq "RemoveExistingProducts" 1501 "$(awk -F'\t' '$1 == "RemoveExistingProducts" { print $3 }' <<<"$sequence")"
    expect_eq "ClearPropertiesCache's condition" 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE' \
        "$(awk -F'\t' '$1 == "ClearPropertiesCache" { print $2 }' <<<"$sequence")"
    expect_eq "RemoveExistingProducts" 1 "$(action_result "$LOG" RemoveExistingProducts)"
    expect_eq "2.0 after" absent "$(product_state "$DEMO2_CODE")"
    expect_eq "2.0's cache (rolled back)" "(no key)" "$(cache_of "$ARCH" "$DEMO2_CODE")"
    if [ "$(product_state "$DEMO_CODE")" = registered ]; then
        echo "  lifecycle ${CASE_NAME#case_lifecycle_}: 1.0 given back by the rollback" >>"$LOGS/lifecycle-outcomes.txt"
        expect_eq "1.0's cache" "$(life_cache 3000 3 1 SN-1001 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
        expect_eq "1.0's applications" "$(life_apps 3000 SN-1001 1000)" "$(run_apps)"
    else
        echo "  lifecycle ${CASE_NAME#case_lifecycle_}: 1.0 removed and not given back (the engine cannot roll back RemoveExistingProducts)" >>"$LOGS/lifecycle-outcomes.txt"
        install reinstall-1.0 "$DEMO" $LIFE_CHOICES
        expect_eq "msiexec install 1.0 again" 0 "$RC"
        msi upgrading-removal /x "$DEMO" "UPGRADINGPRODUCTCODE=$DEMO2_CODE"
        expect_eq "msiexec removal as part of an upgrade" 0 "$RC"
        expect_eq "ClearPropertiesCache" "not run" "$(action_result "$LOG" ClearPropertiesCache)"
        expect_eq "1.0 after its removal" absent "$(product_state "$DEMO_CODE")"
        expect_eq "1.0's cache kept" "$(life_cache 3000 3 1 SN-1001 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    fi
}

# A repair with choices on its command line: one line per choice it does not
# use, the applications and the cache as they were.
life_choices_kept() {
    expect_in "ignored converter" "^VantorCustomAction: DEFAULT_CONVERTER=81 given, the cached 3000 is used: a repair keeps the first installation's choices; VANTOR_CHANGE_CHOICES=1 changes them$" \
        "$(action_log_lines "$LOG")"
    expect_in "ignored serial number" "^VantorCustomAction: SERIAL_NUMBER=SN-2002 given, the cached SN-1001 is used: " \
        "$(action_log_lines "$LOG")"
    expect_eq "CacheProperties" "not run" "$(action_result "$LOG" CacheProperties)"
    expect_eq "applications" "$(life_apps 3000 SN-1001 1000)" "$(run_apps)"
    expect_eq "cache" "$(life_cache 3000 3 1 SN-1001 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    expect_eq "profile" coastal.ini "$(life_harbor)"
}

# VANTOR_CHANGE_CHOICES=1: the given choices patched and cached, the others kept.
life_choices_changed() {
    expect_in "changed converter" "^VantorCustomAction: DEFAULT_CONVERTER changed: 3000 -> 81 \\(VANTOR_CHANGE_CHOICES=1\\)$" \
        "$(action_log_lines "$LOG")"
    expect_in "changed serial number" "^VantorCustomAction: SERIAL_NUMBER changed: SN-1001 -> SN-2002 \\(VANTOR_CHANGE_CHOICES=1\\)$" \
        "$(action_log_lines "$LOG")"
    expect_eq "CacheProperties" 1 "$(action_result "$LOG" CacheProperties)"
    expect_eq "applications" "$(life_apps 81 SN-2002 1000)" "$(run_apps)"
    expect_eq "cache" "$(life_cache 81 3 1 SN-2002 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
}

# A later repair (choices on its command line again) keeps the changed ones.
life_repair_keeps_the_change() {
    life_choices_changed
    life_stamp_apps
    msi repair-after-change /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus DEFAULT_CONVERTER=3000 SERIAL_NUMBER=SN-1001
    expect_eq "msiexec repair after the change" 0 "$RC"
    expect_in "ignored converter" "^VantorCustomAction: DEFAULT_CONVERTER=3000 given, the cached 81 is used: " \
        "$(action_log_lines "$LOG")"
    expect_eq "applications after the repair" "$(life_apps 81 SN-2002 1000)" "$(run_apps)"
    expect_eq "cache after the repair" "$(life_cache 81 3 1 SN-2002 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
}

# 1.0.1 over 1.0: its changed application in place, patched from the cache.
life_small_update() {
    expect_eq "product" registered "$(product_state "$DEMO_CODE")"
    expect_eq "ProductVersion" 1.0.1 "$(logged_property "$LOG" ProductVersion)"
    expect_eq "the changed application" "$(cat "$ROOT/e2e/demo/update-1.0.1.txt")" \
        "$(tail -c "$(stat -c %s "$ROOT/e2e/demo/update-1.0.1.txt")" "$(apps_dir)/rondo32.exe")"
    expect_in "ignored converter" "^VantorCustomAction: DEFAULT_CONVERTER=81 given, the cached 3000 is used: " \
        "$(action_log_lines "$LOG")"
    expect_eq "applications" "$(life_apps 3000 SN-1001 1001)" "$(run_apps)"
    expect_eq "cache" "$(life_cache 3000 3 1 SN-1001 coastal.ini)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    uninstall remove-1.0.1 "$DEMO_CODE"
    expect_eq "msiexec removal of 1.0.1" 0 "$RC"
}

life_profile_kept() {
    expect_eq "ConfigureHarbor data" "$(system_windir)Harbor\\coastal.ini" "$(logged_property "$LOG" ConfigureHarbor)"
    expect_eq "profile" coastal.ini "$(life_harbor)"
}

# A choice that cannot work: 1603 before anything is installed, and one
# message naming the property and its value.
life_refused() { # NAME=VALUE
    expect_in "message" "${1//[.^]/\\&} cannot be used: " "$(tr -d '\r' <"$LOG")"
    # A failed action ends with "Return value 3" on Windows, 0 under Wine.
    expect_in "CheckChoices result" '^(0|3)$' "$(action_result "$LOG" CheckChoices)"
    expect_eq "InstallInitialize" "not run" "$(action_result "$LOG" InstallInitialize)"
    expect_eq "product" absent "$(product_state "$DEMO_CODE")"
    expect_eq "cache" "(no key)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    [ ! -e "$(apps_dir)/rondo32.exe" ] || fail "rondo32.exe is installed"
}

life_drivers_of() { # FILE: the drivers installed, and no other converter's
    expect_eq "drivers" "$1" "$(life_drivers)"
    expect_in "drivers line" "^VantorCustomAction: Drivers feature Drivers_${1%.txt} selected for converter " \
        "$(action_log_lines "$LOG")"
}

# --- the table ----------------------------------------------------------------
#
# lifecycle NAME FIRST RC CHECK STEP PACKAGE PROPERTIES...: one case,
# case_lifecycle_NAME.
#   FIRST    1.0: Vantor Demo 1.0 installed with LIFE_CHOICES first; -: nothing
#   RC       msiexec's code for the step
#   CHECK    what the row is about, checked after the step (a function and
#            its arguments)
#   STEP     install (msiexec /i PACKAGE PROPERTIES) or repair (the same with
#            REINSTALL=ALL REINSTALLMODE=vomus)
#   PACKAGE  demo, demo2, demo101, or a function printing a variant's path
lifecycle() {
    local name=$1
    eval "case_lifecycle_$name() { lifecycle_run \"\${LIFECYCLE_$name[@]}\"; }"
    shift
    eval "LIFECYCLE_$name=(\"\$@\")"
}

# 2.0 with a deferred action that fails after RemoveExistingProducts: the
# ConfigureHarbor entry without its data answers 2.
life_failing_demo2() {
    local dir=$WINE_DIR/package-$ARCH-variants
    mkdir -p "$dir"
    cp "$(package_path "$ARCH" demo2)" "$dir/demo2-failing.msi" &&
        msibuild "$dir/demo2-failing.msi" \
            -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailAfterRemoval', 3073, 'VantorSetup', 'ConfigureHarbor')" \
            -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('FailAfterRemoval', 4250)" \
            >/dev/null 2>&1 || fail "setup: msibuild demo2-failing.msi"
    winpath "$dir/demo2-failing.msi"
}

lifecycle silent_upgrade_keeps_the_choices_and_the_profile 1.0 0 life_upgraded_with_the_first_choices \
    install demo2
lifecycle upgrade_with_choices_given 1.0 0 life_upgraded_with_the_given_choices \
    install demo2 DEFAULT_CONVERTER=81 SERIAL_NUMBER=SN-2002
lifecycle upgrade_failing_after_the_removal 1.0 1603 life_failed_upgrade \
    install life_failing_demo2
lifecycle repair_with_choices_changes_nothing 1.0 0 life_choices_kept \
    repair demo DEFAULT_CONVERTER=81 SERIAL_NUMBER=SN-2002
lifecycle change_in_place 1.0 0 life_choices_changed \
    repair demo VANTOR_CHANGE_CHOICES=1 DEFAULT_CONVERTER=81 SERIAL_NUMBER=SN-2002
lifecycle repair_after_a_change 1.0 0 life_repair_keeps_the_change \
    repair demo VANTOR_CHANGE_CHOICES=1 DEFAULT_CONVERTER=81 SERIAL_NUMBER=SN-2002
lifecycle small_update 1.0 0 life_small_update \
    repair demo101 DEFAULT_CONVERTER=81
lifecycle profile_kept_by_a_repair 1.0 0 life_profile_kept \
    repair demo
lifecycle refused_unknown_converter - 1603 "life_refused DEFAULT_CONVERTER=12345" \
    install demo DEFAULT_CONVERTER=12345
lifecycle refused_converter_not_offered - 1603 "life_refused DEFAULT_CONVERTER=3001" \
    install demo DEFAULT_CONVERTER=3001
lifecycle refused_no_converter - 1603 "life_refused DEFAULT_CONVERTER=" \
    install demo SERIAL_NUMBER=SN-1001
lifecycle refused_port_name - 1603 "life_refused DEFAULT_COM_PORT=COM3" \
    install demo DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=COM3
lifecycle refused_port_too_large - 1603 "life_refused DEFAULT_PAR_PORT=65536" \
    install demo DEFAULT_CONVERTER=81 DEFAULT_PAR_PORT=65536
lifecycle refused_long_serial_number - 1603 "life_refused SERIAL_NUMBER=ABCDEFGHIJK" \
    install demo DEFAULT_CONVERTER=81 SERIAL_NUMBER=ABCDEFGHIJK
lifecycle refused_unknown_profile - 1603 "life_refused DEFAULT_HARBOR_CONFIG=other.ini" \
    install demo DEFAULT_CONVERTER=81 DEFAULT_HARBOR_CONFIG=other.ini
lifecycle silent_install_of_two_offered_converters - 0 "life_drivers_of UL81.txt" \
    install demo DEFAULT_CONVERTER=81

lifecycle_run() { # first rc check step package properties...
    local first=$1 rc=$2 check=$3 step=$4 package=$5
    shift 5
    # A drivers feature that a change of device requested, and that a
    # removal therefore left behind under Wine, is no part of what the row
    # shows.
    rm -rf "$(system_dir)/Drivers"
    if [ "$first" = 1.0 ]; then
        install install-1.0 "$DEMO" $LIFE_CHOICES
        [ "$RC" = 0 ] || { fail "installation of 1.0: msiexec answered $RC"; return; }
    fi
    # What a repair writes into the applications shows against these.
    [ "$step" = repair ] && life_stamp_apps
    case $package in
        demo) package=$DEMO ;;
        demo2) package=$DEMO2 ;;
        demo101) package=$DEMO101 ;;
        *) package=$($package) ;;
    esac
    case $step in
        install) msi "$step" /i "$package" "$@" ;;
        repair) msi "$step" /i "$package" REINSTALL=ALL REINSTALLMODE=vomus "$@" ;;
    esac
    echo "  lifecycle ${CASE_NAME#case_lifecycle_}: msiexec $RC" >>"$LOGS/lifecycle-outcomes.txt"
    expect_eq "msiexec $step" "$rc" "$RC"
    $check
}
