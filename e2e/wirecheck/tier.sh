# The wiring checker, both builds: the Linux one (build/host/tools/wirecheck/
# vantor-wirecheck, on libmsi) natively and the Windows one
# (dist/<arch>/vantor-wirecheck.exe, on msi.dll) under Wine, on every case;
# the two must print the same findings and answer the same exit status. A
# package wired as the includes intend (good.wxs, finished as below) passes
# clean; each miswiring, made from it with msibuild, is flagged with exactly
# its own check, naming the row at fault; a file that is no package answers
# 2. The database interface under both checkers passes the same cases
# (tools/wirecheck/database_test.cpp). The finishing step (vantor-wirecheck
# --fix) is tested here too: what it changes on good.msi as wixl wrote it,
# the same lines from both builds, and that a second run changes no byte, on
# good.msi and on every package the build made.
# Every case runs with the Windows checker of each bitness, on a package
# built with that bitness's DLLs (x86 skipped where this machine cannot
# execute 32-bit code).
# Usage: tier.sh [ARCH...] (default x64 x86). Last line: "wirecheck: N passed, N failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/check.sh"

TIER=wirecheck
HERE=$ROOT/e2e/wirecheck

# The miswirings: name, the one check expected, a text its line must hold
# (the row at fault), then the msibuild queries that make it from good.msi.
MISWIRED=(
    "setter_missing|setter|CustomAction 'QuillApplyPatchInfo'|DELETE FROM CustomAction WHERE Action='SetQuillApplyPatchInfo'|DELETE FROM InstallExecuteSequence WHERE Action='SetQuillApplyPatchInfo'"
    "setter_after_its_action|setter|CustomAction 'DIFxInstall'|UPDATE InstallExecuteSequence SET Sequence=4400 WHERE Action='SetDIFxInstall'"
    "setter_before_costfinalize|setter|CustomAction 'ConfigureHarbor'|UPDATE InstallExecuteSequence SET Sequence=990 WHERE Action='SetConfigureHarbor'"
    "deferred_after_installfinalize|window|CustomAction 'SableApplyPatchInfo'|UPDATE InstallExecuteSequence SET Sequence=6700 WHERE Action='SableApplyPatchInfo'"
    "deferred_before_installinitialize|window|CustomAction 'StartVantorAutoLauchService'|UPDATE InstallExecuteSequence SET Sequence=1450 WHERE Action='StartVantorAutoLauchService'"
    "deferred_in_ui_sequence|window|CustomAction 'TernApplyPatchInfo'|INSERT INTO InstallUISequence (Action, Sequence) VALUES ('TernApplyPatchInfo', 1130)"
    "shared_data_two_fields|layout|CustomAction 'SetVantorDeferredData'|UPDATE CustomAction SET Target='X[INSTALLDIR]|X[DEFAULT_CONVERTER]' WHERE Action='SetVantorDeferredData'"
    "shared_data_without_x|layout|CustomAction 'SetVantorDeferredData'|UPDATE CustomAction SET Target='[INSTALLDIR]|[DEFAULT_CONVERTER]|[ProductVersion]|[DEFAULT_PAR_PORT]|[DEFAULT_COM_PORT]|[ProductLanguage]|[SERIAL_NUMBER]|[REINSTALLMODE]' WHERE Action='SetVantorDeferredData'"
    "own_data_ports_swapped|layout|CustomAction 'SetWinUsbUninstall'|UPDATE CustomAction SET Target='X[INSTALLDIR]|X[DEFAULT_CONVERTER]|X[ProductVersion]|X[DEFAULT_COM_PORT]|X[DEFAULT_PAR_PORT]|X[ProductLanguage]|X[SERIAL_NUMBER]|X[REINSTALLMODE]' WHERE Action='SetWinUsbUninstall'"
    "shared_data_in_property_table|layout|Property 'VANTOR_DEFERRED_DATA'|DELETE FROM CustomAction WHERE Action='SetVantorDeferredData'|DELETE FROM InstallExecuteSequence WHERE Action='SetVantorDeferredData'|INSERT INTO Property (Property, Value) VALUES ('VANTOR_DEFERRED_DATA', 'X[INSTALLDIR]')"
    "language_data_separator|layout|CustomAction 'SetSetConfigLanguage'|UPDATE CustomAction SET Target='[#WiringConfig];[ProductLanguage]' WHERE Action='SetSetConfigLanguage'"
    "harbor_data_two_paths|layout|CustomAction 'SetConfigureHarbor'|UPDATE CustomAction SET Target='[HARBORCONFIGDIR]|[DEFAULT_HARBOR_CONFIG]' WHERE Action='SetConfigureHarbor'"
    "rollback_as_written_by_wixl|rollback|CustomAction 'CachePropertiesRollback'|UPDATE CustomAction SET Type=2049 WHERE Action='CachePropertiesRollback'"
    "rollback_after_cacheproperties|rollback|CustomAction 'CachePropertiesRollback'|UPDATE InstallExecuteSequence SET Sequence=1515 WHERE Action='CachePropertiesRollback'"
    "rollback_missing|rollback|InstallExecuteSequence 'CacheProperties'|DELETE FROM InstallExecuteSequence WHERE Action='CachePropertiesRollback'"
    "no_combobox_table|combobox|CustomAction 'AppendComboBox', 'PopulateHarborChoices'|DROP TABLE ComboBox"
    "no_service_install|service|CustomAction 'StartVantorAutoLauchService'|DELETE FROM ServiceInstall"
    "service_named_otherwise|service|CustomAction 'StartVantorAutoLauchService'|UPDATE ServiceInstall SET Name='Vantor AutoLaunch Service'"
    "language_file_key_missing|filekey|CustomAction 'SetSetConfigLanguage'|UPDATE CustomAction SET Target='[#NoSuchFile]|[ProductLanguage]' WHERE Action='SetSetConfigLanguage'"
    "no_removefile_for_tessel|removefile|CustomAction 'ConfigureHarbor'|DELETE FROM RemoveFile WHERE FileName='tessel.ini'"
    "secure_lacks_harbor_choice|secure|lacks DEFAULT_HARBOR_CONFIG,|UPDATE Property SET Value='ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_COM_PORT;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;INSTALLDIR;SERIAL_NUMBER' WHERE Property='SecureCustomProperties'"
    "secure_row_missing|secure|Property 'SecureCustomProperties' (no such row)|DELETE FROM Property WHERE Property='SecureCustomProperties'"
    "no_upgrade_row|upgrade|CustomAction 'FrobMajorUpgrade'|DELETE FROM Upgrade WHERE ActionProperty='ACTIONPROPERTY'"
    "shared_data_earlier_maintenance_field|layout|CustomAction 'SetVantorDeferredData'|UPDATE CustomAction SET Target='X[INSTALLDIR]|X[DEFAULT_CONVERTER]|X[ProductVersion]|X[DEFAULT_PAR_PORT]|X[DEFAULT_COM_PORT]|X[ProductLanguage]|X[SERIAL_NUMBER]|X[REINSTALLMODE]' WHERE Action='SetVantorDeferredData'"
    "secure_lists_the_change_property|secure|lists VANTOR_CHANGE_CHOICES,|UPDATE Property SET Value='ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR;VANTOR_CHANGE_CHOICES' WHERE Property='SecureCustomProperties'"
    "carry_over_before_frob|place|CustomAction 'CarryOverChoices' (entry CarryOverChoices, InstallExecuteSequence 207)|UPDATE InstallExecuteSequence SET Sequence=207 WHERE Action='CarryOverChoices'"
    "carry_over_after_costing_in_ui|place|CustomAction 'CarryOverChoices' (entry CarryOverChoices, InstallUISequence 850)|UPDATE InstallUISequence SET Sequence=850 WHERE Action='CarryOverChoices'"
    "recall_after_costfinalize|place|CustomAction 'RecallChoices' (entry RecallChoices, InstallExecuteSequence 1000)|UPDATE InstallExecuteSequence SET Sequence=1000 WHERE Action='RecallChoices'"
    "check_choices_after_installinitialize|place|CustomAction 'CheckChoices' (entry CheckChoices, InstallExecuteSequence 1502)|UPDATE InstallExecuteSequence SET Sequence=1502 WHERE Action='CheckChoices'"
    "check_choices_before_carry_over|place|CustomAction 'CheckChoices' (entry CheckChoices, InstallExecuteSequence 212)|UPDATE InstallExecuteSequence SET Sequence=212 WHERE Action='CheckChoices'"
    "drivers_feature_before_costfinalize|place|CustomAction 'SelectDriversFeature' (entry SelectDriversFeature, InstallExecuteSequence 990)|UPDATE InstallExecuteSequence SET Sequence=990 WHERE Action='SelectDriversFeature'"
    "replaced_caches_before_installfinalize|place|CustomAction 'ClearReplacedCaches' (entry ClearReplacedCaches, InstallExecuteSequence 6600)|UPDATE InstallExecuteSequence SET Sequence=6600 WHERE Action='ClearReplacedCaches'"
    "remove_existing_before_installinitialize|place|InstallExecuteSequence 'RemoveExistingProducts' (1410)|UPDATE InstallExecuteSequence SET Sequence=1410 WHERE Action='RemoveExistingProducts'"
    "binary_row_missing|binary|Binary 'VantorDrivers'|DELETE FROM Binary WHERE Name='VantorDrivers'"
    "entry_in_the_other_dll|entry|CustomAction 'DIFxInstall'|UPDATE CustomAction SET Source='VantorSetup' WHERE Action='DIFxInstall'"
    # The mistakes a new author made, from the release archive alone.
    "language_data_names_the_application|language|CustomAction 'SetSetConfigLanguage'|UPDATE CustomAction SET Target='[#AppRondo]|[ProductLanguage]' WHERE Action='SetSetConfigLanguage'"
    "default_converter_unknown|converter|Property 'DEFAULT_CONVERTER'|INSERT INTO Property (Property, Value) VALUES ('DEFAULT_CONVERTER', '12345')"
    "default_converter_not_offered|converter|Property 'DEFAULT_CONVERTER'|INSERT INTO Property (Property, Value) VALUES ('DEFAULT_CONVERTER', '111')"
    "product_language_without_country_code|country|Property 'ProductLanguage'|UPDATE Property SET Value='1030' WHERE Property='ProductLanguage'"
    "application_outside_installdir|application|File 'AppQuill'|UPDATE Component SET Directory_='HARBORCONFIGDIR' WHERE Component='AppQuill'"
    "patch_action_without_its_application|unshipped|CustomAction 'SableApplyPatchInfo'|DELETE FROM File WHERE File='AppSable'"
    "dpinst_outside_system|dpinst|File 'DriverPackageTool'|UPDATE Component SET Directory_='INSTALLDIR' WHERE Component='DriverPackageTool'"
    "per_user_package_with_the_cache|allusers|Property 'ALLUSERS'|DELETE FROM Property WHERE Property='ALLUSERS'"
    "drivers_feature_without_condition|drivers|Feature 'Drivers_UL81'|DELETE FROM Condition WHERE Feature_='Drivers_UL81'"
    "drivers_feature_on_by_default|drivers|Feature 'Drivers_US3000'|UPDATE Feature SET Level=1 WHERE Feature='Drivers_US3000'"
    "recall_choices_missing|lifecycle|CustomAction 'CacheProperties'|DELETE FROM InstallExecuteSequence WHERE Action='RecallChoices'"
    "carry_over_missing|lifecycle|Upgrade 'ACTIONPROPERTY'|DELETE FROM InstallExecuteSequence WHERE Action='CarryOverChoices'"
    "patch_action_immediate|type|CustomAction 'FathomApplyPatchInfo'|UPDATE CustomAction SET Type=1 WHERE Action='FathomApplyPatchInfo'"
    "profiles_component_missing|component|CustomAction 'PopulateHarborChoices', 'ConfigureHarbor'|DELETE FROM Component WHERE Component='rondoconfig'"
    "upgrade_list_before_the_guard|place|CustomAction 'FrobMajorUpgrade' (entry FrobMajorUpgrade, InstallExecuteSequence 203)|UPDATE InstallExecuteSequence SET Sequence=203 WHERE Action='FrobMajorUpgrade'"
    "kernel_driver_rollback_as_written_by_wixl|rollback|CustomAction 'InstallKappaSysRollback'|UPDATE CustomAction SET Type=2049 WHERE Action='InstallKappaSysRollback'"
)

# sql PACKAGE QUERY...: msibuild queries, each one a failure of the case when refused.
sql() {
    local package=$1 query
    shift
    for query in "$@"; do
        msibuild "$package" -q "$query" >/dev/null 2>&1 || { fail "msibuild refused: $query"; return 1; }
    done
}
has_row() { # package table pattern
    msiinfo export "$1" "$2" 2>/dev/null | tail -n +4 | grep -Eq -- "$3"
}

# fix_msi PACKAGE...: the finishing step every package takes, by the Linux
# checker; sets RC, FIXED (its stdout: one line per change) and FIX_ERR.
fix_msi() {
    "$LINUX_CHECKER" --fix "$@" </dev/null >"$WORK/fix.out" 2>"$WORK/fix.err"
    RC=$?
    FIXED=$(cat "$WORK/fix.out")
    FIX_ERR=$(cat "$WORK/fix.err")
}

# wirecheck [PACKAGE]: runs the Linux checker and the Windows one on the
# package; sets RC and OUT (the findings) that both gave, and ERR and
# LINUX_ERR (what each said on stderr). Where the two differ in their lines
# or their exit status, the case fails.
wirecheck() {
    local args=() linux_rc linux_out
    [ $# -gt 0 ] && args=("$(winpath "$1")")
    "$LINUX_CHECKER" "$@" </dev/null >"$WORK/linux.out" 2>"$WORK/linux.err"
    linux_rc=$?
    "$WINE" "$CHECKER" "${args[@]}" </dev/null >"$WORK/out" 2>"$WORK/err"
    RC=$?
    OUT=$(tr -d '\r' <"$WORK/out")
    ERR=$(tr -d '\r' <"$WORK/err")
    linux_out=$(cat "$WORK/linux.out")
    LINUX_ERR=$(cat "$WORK/linux.err")
    if [ "$linux_rc" != "$RC" ] || [ "$linux_out" != "$OUT" ]; then
        fail "the checkers disagree (Linux exit $linux_rc, Windows exit $RC; < Linux, > Windows):" \
            "$(diff <(echo "$linux_out") <(echo "$OUT"))"
    fi
}

case_good_package_is_clean() {
    wirecheck "$GOOD"
    expect_eq "exit status" 0 "$RC"
    expect_eq "findings" "" "$OUT"
}

# One miswiring (the row in MISWIRED): exactly one finding, of its check,
# naming its row.
miswired() {
    local name check row_text queries package list=()
    IFS='|' read -r name check row_text _ <<<"$MISWIRING"
    CASE_NAME=$name
    # The queries follow the third field; a data string in them holds "|" of
    # its own, so they are split at a "|" before a query word only.
    queries=${MISWIRING#*|*|*|}
    mapfile -t list < <(sed -E 's/\|(DELETE|UPDATE|INSERT|DROP|CREATE) /\n\1 /g' <<<"$queries")
    package=$WORK/$name.msi
    cp "$GOOD" "$package"
    sql "$package" "${list[@]}" || return
    wirecheck "$package"
    local lines found
    lines=$(grep -c . <<<"$OUT")
    found=$(sed -n 's/^\([a-z]*\): .*/\1/p' <<<"$OUT" | tr '\n' ' ')
    if [ "$RC" != 1 ] || [ "$lines" != 1 ] || [ "$found" != "$check " ]; then
        fail "expected exit 1 and one '$check' finding, got exit $RC and: ${OUT:-nothing}"
    elif ! grep -qF -- "$row_text" <<<"$OUT"; then
        fail "the finding does not name \"$row_text\": $OUT"
    fi
}

# Every check of the checker has a miswiring above.
case_every_check_has_a_miswiring() {
    local check
    for check in setter window layout rollback combobox service filekey removefile secure upgrade \
        place binary entry language converter country application unshipped dpinst allusers \
        drivers lifecycle type component; do
        [[ "${MISWIRED[*]}" == *"|$check|"* ]] || fail "no miswiring for '$check'"
    done
}

# What --fix did to good.msi as wixl wrote it: each fix once, the values
# wixl wrote into SecureCustomProperties kept in front; the Windows build
# plans the same fixes, and the package it makes checks clean with both.
case_fix_makes_each_fix() {
    local package=$WORK/fixed.msi windows=$WORK/fixed-windows.msi expected table
    cp "$WORK/unfinished.msi" "$package"
    cp "$WORK/unfinished.msi" "$windows"
    fix_msi "$package"
    expect_eq "exit status" 0 "$RC"
    expected="fix: CustomAction 'CachePropertiesRollback': type 2049 -> 3329 (rollback)
fix: CustomAction 'InstallKappaSysRollback': type 2049 -> 3329 (rollback)
fix: CustomAction 'InstallVantorSysRollback': type 2049 -> 3329 (rollback)
fix: ComboBox table created
fix: RemoveFile 'TesselIni': tessel.ini in HARBORCONFIGDIR, on removal
fix: Property 'SecureCustomProperties': 'ACTIONPROPERTY;NEWERVERSIONDETECTED' -> 'ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR'
fix: Condition 'Drivers_UL81' (level 1): DEFAULT_CONVERTER=81 (new row)
fix: Condition 'Drivers_US3000' (level 1): DEFAULT_CONVERTER=3000 (new row)"
    expect_eq "changes" "$expected" "$FIXED"
    expect_eq "summary" "vantor-wirecheck: $package: 8 fixes made" "$FIX_ERR"
    for table in Property CustomAction RemoveFile Condition; do
        expect_eq "$table as in good.msi" "$(msiinfo export "$GOOD" $table | sort)" \
            "$(msiinfo export "$package" $table | sort)"
    done
    expect_in "tables" '^ComboBox$' "$(msiinfo tables "$package")"
    "$WINE" "$CHECKER" --fix "$(winpath "$windows")" </dev/null >"$WORK/out" 2>"$WORK/err"
    expect_eq "Windows build's exit status" 0 "$?"
    expect_eq "Windows build's changes" "$expected" "$(tr -d '\r' <"$WORK/out")"
    wirecheck "$windows"
    expect_eq "checker's exit status on the Windows build's package" 0 "$RC"
    expect_eq "checker's findings on the Windows build's package" "" "$OUT"
}

# A second run finds nothing to do and leaves every byte; so does a third
# after a fix was undone and made again.
case_fix_twice_changes_nothing() {
    local package=$WORK/twice.msi
    cp "$GOOD" "$package"
    fix_msi "$package"
    expect_eq "exit status" 0 "$RC"
    expect_eq "output" "" "$FIXED"
    expect_eq "summary" "vantor-wirecheck: $package: nothing to fix" "$FIX_ERR"
    cmp -s "$GOOD" "$package" || fail "the package changed although nothing was to fix"
    sql "$package" "UPDATE Property SET Value='DEFAULT_CONVERTER;ACTIONPROPERTY' WHERE Property='SecureCustomProperties'" \
        "DELETE FROM Condition WHERE Feature_='Drivers_UL81'" || return
    fix_msi "$package"
    expect_eq "exit status of the repair" 0 "$RC"
    expect_eq "secure after the repair" \
        "DEFAULT_CONVERTER;ACTIONPROPERTY;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR;NEWERVERSIONDETECTED" \
        "$(msiinfo export "$package" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')"
    expect_eq "the condition after the repair" "Drivers_UL81	1	DEFAULT_CONVERTER=81" \
        "$(msiinfo export "$package" Condition | tr -d '\r' | grep '^Drivers_UL81')"
    cp "$package" "$WORK/twice-before.msi"
    fix_msi "$package"
    expect_eq "third run" "" "$FIXED"
    cmp -s "$WORK/twice-before.msi" "$package" || fail "the third run changed the package"
}

# A package whose SecureCustomProperties lists the change property: --fix
# takes it out (and says why), keeps the rest, and a second run changes
# nothing; the checker then finds nothing.
case_fix_takes_the_change_property_out() {
    local package=$WORK/change-property.msi
    cp "$GOOD" "$package"
    sql "$package" "UPDATE Property SET Value='VANTOR_CHANGE_CHOICES;ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR' WHERE Property='SecureCustomProperties'" || return
    fix_msi "$package"
    expect_eq "exit status" 0 "$RC"
    expect_eq "change" "fix: Property 'SecureCustomProperties': 'VANTOR_CHANGE_CHOICES;ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR' -> 'ACTIONPROPERTY;NEWERVERSIONDETECTED;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;INSTALLDIR' (VANTOR_CHANGE_CHOICES taken out: never secure, it lets a repair change the recorded choices)" \
        "$FIXED"
    cp "$package" "$WORK/change-property-before.msi"
    fix_msi "$package"
    expect_eq "second run" "" "$FIXED"
    cmp -s "$WORK/change-property-before.msi" "$package" || fail "the second run changed the package"
    wirecheck "$package"
    expect_eq "checker's exit status" 0 "$RC"
    expect_eq "checker's findings" "" "$OUT"
}

case_fix_refuses_what_is_no_package() {
    fix_msi "$HERE/payload.txt"
    expect_eq "exit status for a text file" 1 "$RC"
    expect_in "reason" "^vantor-wirecheck: .*payload\.txt: " "$FIX_ERR"
    fix_msi "$WORK/does-not-exist.msi"
    expect_eq "exit status for a missing file" 1 "$RC"
    fix_msi
    expect_eq "exit status without a package" 2 "$RC"
    fix_msi "$GOOD" "$GOOD"
    expect_eq "exit status with two packages" 2 "$RC"
}

# Every package that the build made was finished by --fix: a second --fix
# finds nothing and changes no byte.
case_fix_again_on_every_built_package() {
    local package copy count=0
    for package in "$ROOT/build/$ARCH/e2e/"*.msi; do
        [ -f "$package" ] || continue
        count=$((count + 1))
        copy=$WORK/built-$(basename "$package")
        cp "$package" "$copy"
        fix_msi "$copy"
        expect_eq "$(basename "$package"): exit status" 0 "$RC"
        expect_eq "$(basename "$package"): changes" "" "$FIXED"
        cmp -s "$package" "$copy" || fail "$(basename "$package"): a second --fix changed it"
    done
    [ "$count" -ge 5 ] || fail "only $count packages in build/$ARCH/e2e (run ./run build)"
}

case_what_is_no_package_answers_2() {
    local nothing=$WORK/no-tables.msi
    rm -f "$nothing"
    msibuild "$nothing" -q "CREATE TABLE Thing (Name CHAR(8) NOT NULL PRIMARY KEY Name)" >/dev/null 2>&1 ||
        fail "msibuild cannot make a database without tables of a package"
    local file
    for file in "$HERE/payload.txt" "$WORK/does-not-exist.msi" "$nothing"; do
        wirecheck "$file"
        expect_eq "exit status for $(basename "$file")" 2 "$RC"
        expect_eq "findings for $(basename "$file")" "" "$OUT"
        expect_in "reason for $(basename "$file")" "vantor-wirecheck: .*$(basename "$file"): " "$ERR"
        expect_in "Linux reason for $(basename "$file")" "vantor-wirecheck: .*$(basename "$file"): " \
            "$LINUX_ERR"
    done
    wirecheck
    expect_eq "exit status without a package" 2 "$RC"
}

# The database under each checker (libmsi, msi.dll of this bitness) passes
# the interface's cases, each in a scratch folder of its own.
case_database_interface_holds_on_both() {
    local folder out rc
    for folder in "$WORK/database-linux" "$WORK/database-windows"; do
        rm -rf "$folder" && mkdir -p "$folder"
    done
    out=$("$LINUX_DATABASE_TEST" "$WORK/database-linux" 2>&1)
    rc=$?
    [ $rc = 0 ] || fail "Linux (libmsi), exit $rc: $out"
    out=$(wine_capture "$DATABASE_TEST" "$(winpath "$WORK/database-windows")")
    rc=$?
    [ $rc = 0 ] || fail "Windows (msi.dll), exit $rc: $out"
}

# The packages the build made pass the checks; the companion alone names the
# patch actions of applications it does not ship, as it means to.
case_built_packages_check_clean() {
    local package name count=0
    for package in "$ROOT/build/$ARCH/e2e/"*.msi; do
        [ -f "$package" ] || continue
        count=$((count + 1))
        name=$(basename "$package" .msi)
        wirecheck "$package"
        if [ "$name" = companion ]; then
            expect_eq "companion: findings" "unshipped unshipped unshipped unshipped unshipped unshipped unshipped unshipped unshipped" \
                "$(sed -n 's/^\([a-z]*\): .*/\1/p' <<<"$OUT" | tr '\n' ' ' | sed 's/ $//')"
        else
            expect_eq "$name: exit status" 0 "$RC"
            expect_eq "$name: findings" "" "$OUT"
        fi
    done
    [ "$count" -ge 5 ] || fail "only $count packages in build/$ARCH/e2e (run ./run build)"
}

# run_arch ARCH: builds and finishes good.msi with that bitness's DLLs and
# runs every case with that bitness's checker.
run_arch() {
    ARCH=$1
    WORK=$ROOT/build/wirecheck-$ARCH
    CHECKER=$ROOT/dist/$ARCH/vantor-wirecheck.exe
    DATABASE_TEST=$ROOT/build/$ARCH/tools/wirecheck/test/wirecheck-database-test.exe
    GOOD=$WORK/good.msi
    local cases case file
    cases=$(declare -F | sed -n 's/^declare -f \(case_.*\)/\1/p')
    if [ "$ARCH" = x86 ] && ! wine32_loader_runs; then
        CASES_SKIPPED=$((CASES_SKIPPED + ${#MISWIRED[@]} + $(wc -w <<<"$cases")))
        SKIPPED_WHY="x86: this machine cannot execute 32-bit code"
        return
    fi
    for file in "$CHECKER" "$DATABASE_TEST" "$LINUX_CHECKER" "$LINUX_DATABASE_TEST" \
        "$ROOT/dist/$ARCH/VantorSetup.dll" "$ROOT/dist/$ARCH/VantorDrivers.dll"; do
        [ -f "$file" ] || { lost "missing $file (run ./run build)"; return; }
    done
    rm -rf "$WORK" && mkdir -p "$WORK"
    # wixl takes the DLLs by paths relative to the folder of the .wxs.
    (cd "$HERE" && wixl -a x64 -I "$ROOT/package" -D VantorSetupDll="../../dist/$ARCH/VantorSetup.dll" \
        -D VantorDriversDll="../../dist/$ARCH/VantorDrivers.dll" -o "$GOOD" good.wxs) \
        >"$WORK/wixl.log" 2>&1 || { lost "wixl cannot build good.msi: $(cat "$WORK/wixl.log")"; return; }
    cp "$GOOD" "$WORK/unfinished.msi"
    fix_msi "$GOOD"
    [ "$RC" = 0 ] || { lost "cannot finish good.msi: $FIX_ERR"; return; }
    wine_prefix "wirecheck-$ARCH" || { lost "cannot make a Wine prefix"; return; }
    for case in $cases; do
        run_case "$case"
        [ "$CASE_FAILED" = 0 ] || echo "  ($ARCH checker; files in $WORK)"
    done
    for MISWIRING in "${MISWIRED[@]}"; do
        run_case miswired
        [ "$CASE_FAILED" = 0 ] || echo "  ($ARCH checker; files in $WORK)"
    done
    wine_stop
}
# lost MESSAGE: a bitness whose cases cannot run; counts as one failure.
lost() {
    echo "$ARCH: $1"
    CASES_FAILED=$((CASES_FAILED + 1))
}

LINUX_CHECKER=$ROOT/build/host/tools/wirecheck/vantor-wirecheck
LINUX_DATABASE_TEST=$ROOT/build/host/tools/wirecheck/test/wirecheck-database-test
SKIPPED_WHY=
reason=$(wine_usable) || give_up "$TIER" "$reason"
trap wine_stop EXIT
ARCHES=("$@")
[ ${#ARCHES[@]} -gt 0 ] || ARCHES=(x64 x86)
for arch in "${ARCHES[@]}"; do
    run_arch "$arch"
done
summary "$TIER" "$SKIPPED_WHY"
[ "$CASES_FAILED" = 0 ]
