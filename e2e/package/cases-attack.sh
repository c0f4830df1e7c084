# Attacks through the command line of a repair (sourced by tier.sh; uses the
# helpers of the other cases files). The deferred actions run as LocalSystem
# and a user may start a repair of the installed product with any property:
# each row installs the demo with $CHOICES, prepares what the attack needs,
# runs the attack, and checks msiexec's code and what it did.
#
# Every row watches the same places outside the product's own:
#   C:\evil\payload.ini            planted first, must stay byte-identical
#   tessel.ini anywhere in drive C: but the product's Harbor folder
#   dpinst.log anywhere in drive C: but the product's System folder, with
#                                  the fixture dpinst.exe planted where a hostile
#                                  INSTALLDIR points (it writes one beside itself)
#   HKLM\SOFTWARE\Vantor Technology\<product code>   the cached choices
#   the product's registration
# and its own check looks at what the row's attack aims at (the check column).
# Links are not planted here: Wine follows a symbolic link even when deleting
# it, so they are tested in the host tier, and in the engine tier as Linux
# links (Wine shows them in a file's final path). Hard links Wine reports
# truly.

ATTACK_PAYLOAD='[evil payload]'
ATTACK_FIXTURE_DPINST=$ROOT/build/$ARCH/e2e/fixtures/dpinst.exe
ATTACK_FIXTURE_HOLD=$ROOT/build/$ARCH/e2e/fixtures/hold_file.exe
ATTACK_HOLD_PID=
# The places in the prefix (set once the tier has made it).
attack_paths() {
    ATTACK_EVIL=$WINEPREFIX/drive_c/evil
    ATTACK_EVIL3=$WINEPREFIX/drive_c/evil3
    ATTACK_OUTSIDE_CONFIG=$ATTACK_EVIL/outside.config
    # The attack step runs from here: a relative path in an action resolves
    # against it under Wine (the engine's server would start in System32 on
    # Windows).
    ATTACK_CWD=$ATTACK_EVIL/cwd
    ATTACK_DPINST_PLANTS=("$ATTACK_EVIL/System" "$ATTACK_CWD/evil/System"
                          "$WINEPREFIX/drive_c/windows/system32/evil/System")
}

# The demo with the harbor setter's old condition, without the check of the
# value: what reaches ConfigureHarbor then is the attacker's path itself.
attack_unguarded_demo() {
    system_variant demo-unguarded "UPDATE InstallExecuteSequence SET Condition='DEFAULT_HARBOR_CONFIG AND (\$rondoconfig = 3)' WHERE Action='SetConfigureHarbor' OR Action='ConfigureHarbor'"
}

# The demo without the driver package runner, which would stop a repair with
# a hostile install folder (4300) before the language action (4310) runs, or
# start a program there: what reaches the language action is then the
# attacker's path itself.
attack_demo_without_runner() {
    system_variant demo-without-runner "DELETE FROM InstallExecuteSequence WHERE Action='DIFxInstall'"
}

# Files (and their digests) and keys that must not change, one line each.
attack_outside() {
    local prefix=$WINEPREFIX/drive_c product
    product=$(system_dir)
    sha256sum "$ATTACK_EVIL/payload.ini" 2>&1 | sed "s#$prefix/##"
    find "$prefix" \( -name tessel.ini -o -name dpinst.log \) ! -path "$product/*" 2>/dev/null |
        sed "s#$prefix/#found #"
    echo "cache: $(cache_of "$ARCH" "$DEMO_CODE" | tr '\n' ' ')"
    echo "product: $(product_state "$DEMO_CODE")"
}

attack_clean() {
    chmod o-w "$(system_dir)/System" 2>/dev/null
    attack_release
    rm -rf "$ATTACK_EVIL" "$ATTACK_EVIL3" "$WINEPREFIX/drive_c/windows/system32/evil"
    find "$WINEPREFIX/drive_c" -name tessel.ini ! -path "$(system_dir)/*" -delete 2>/dev/null
    system_clean
}

# --- setups: what an attack needs in place before the repair ---------------

attack_plant_dpinst() {
    local dir
    for dir in "${ATTACK_DPINST_PLANTS[@]}"; do
        mkdir -p "$dir" && cp "$ATTACK_FIXTURE_DPINST" "$dir/dpinst.exe" || fail "setup: plant dpinst.exe"
    done
}

# The product's System folder becomes writable by everyone (Wine reports
# mode o+w as an Everyone entry that may add and delete files), and a program
# is put there in place of the shipped tool. The installation's own run of
# the tool is forgotten, so that a run in the attack shows.
attack_open_system_folder() {
    system_clean
    chmod o+w "$(system_dir)/System" &&
        cp "$ATTACK_FIXTURE_DPINST" "$(system_dir)/System/dpinst.exe" || fail "setup: open System"
}

# A dpinst.exe planted in a folder the user owns, held open by the user (read
# sharing only) so that no copy of the engine could replace it.
attack_plant_held_dpinst() {
    local out=$LOGS/$CASE_NAME.hold.txt waited
    mkdir -p "$ATTACK_EVIL/System" && cp "$ATTACK_FIXTURE_DPINST" "$ATTACK_EVIL/System/dpinst.exe" ||
        { fail "setup: plant dpinst.exe"; return; }
    "$WINE" "$ATTACK_FIXTURE_HOLD" 'C:\evil\System\dpinst.exe' 'C:\evil\release' </dev/null >"$out" 2>&1 &
    ATTACK_HOLD_PID=$!
    for waited in $(seq 100); do
        grep -q held "$out" 2>/dev/null && return
        sleep 0.1
    done
    fail "setup: hold_file did not open the planted dpinst.exe: $(cat "$out")"
}
attack_release() { # lets go of a file attack_plant_held_dpinst holds
    [ -n "$ATTACK_HOLD_PID" ] || return 0
    touch "$ATTACK_EVIL/release"
    wait "$ATTACK_HOLD_PID" 2>/dev/null
    ATTACK_HOLD_PID=
}

# The product's cache key deleted: what a product whose cache has gone (or
# one installed before the cache held the install folder and the profile)
# leaves for the deferred actions' own checks.
attack_drop_cache() { reg_do delete "HKLM\\$COMPANY_KEY\\$DEMO_CODE" /f; }

# Records that no installation writes: what the attack step patches shows.
attack_stamp_apps() { life_stamp_apps; }

# The configuration file becomes a second name of a file outside the product,
# one with the shipped content, which the engine's copy leaves as it is.
attack_hard_link_config() {
    cp "$ROOT/e2e/demo/VantorDemo.exe.config" "$ATTACK_OUTSIDE_CONFIG" &&
        ln -f "$ATTACK_OUTSIDE_CONFIG" "$(system_dir)/VantorDemo.exe.config" || fail "setup: hard link"
    ATTACK_OUTSIDE_SUM=$(sha256sum <"$ATTACK_OUTSIDE_CONFIG")
}

# tessel.ini becomes a second name of a file outside the product.
attack_hard_link_tessel() {
    printf '%s' "$ATTACK_PAYLOAD" >"$ATTACK_EVIL/target.ini" &&
        ln -f "$ATTACK_EVIL/target.ini" "$(system_dir)/Harbor/tessel.ini" || fail "setup: hard link"
    ATTACK_OUTSIDE_SUM=$(sha256sum <"$ATTACK_EVIL/target.ini")
}

# --- checks: what the row's attack aimed at --------------------------------

attack_harbor_took() { # file: the repair put this configuration in place
    local harbor
    harbor=$(system_dir)/Harbor
    expect_eq "ConfigureHarbor" 1 "$(action_result "$LOG" ConfigureHarbor)"
    expect_eq "tessel.ini" "$(cat "$harbor/$1")" "$(cat "$harbor/tessel.ini" 2>&1)"
}

attack_harbor_kept() { # the setter refused the value: no copy at all
    local harbor
    harbor=$(system_dir)/Harbor
    expect_eq "SetConfigureHarbor" "not run" "$(action_result "$LOG" SetConfigureHarbor)"
    expect_eq "ConfigureHarbor" "not run" "$(action_result "$LOG" ConfigureHarbor)"
    expect_eq "tessel.ini" "$(cat "$harbor/harbor.cfg.ini")" "$(cat "$harbor/tessel.ini" 2>&1)"
}

attack_harbor_refused() { # the action itself refused the value
    expect_in "ConfigureHarbor result" '^(0|3)$' "$(action_result "$LOG" ConfigureHarbor)"
    expect_in "action log" '^VantorCustomAction: Configuration file refused, not a plain absolute path: .*payload\.ini \(error 13\)$' \
        "$(action_log_lines "$LOG")"
}

attack_harbor_target_refused() { # no copy through a second name of tessel.ini
    expect_in "ConfigureHarbor result" '^(0|3)$' "$(action_result "$LOG" ConfigureHarbor)"
    expect_in "action log" '^VantorCustomAction: Refused to replace .*\\Harbor\\tessel\.ini: it has 2 hard links \(error 13\)$' \
        "$(action_log_lines "$LOG")"
    expect_eq "outside file" "$ATTACK_OUTSIDE_SUM" "$(sha256sum <"$ATTACK_EVIL/target.ini")"
}

attack_records_untouched() { # the patch actions wrote nothing after the engine's copy
    local app
    for app in "${PATCH_APPS[@]}"; do
        cmp -s "$ROOT/build/$ARCH/fixtures/${app%:*}" "$(apps_dir)/${app%:*}" ||
            fail "${app%:*} differs from the shipped one: $(run_apps | grep -F "${app%:*}:")"
    done
    expect_eq "malformed data logged" "${#PATCH_APPS[@]}" \
        "$(action_log_lines "$LOG" | grep -c '^VantorCustomAction: Malformed CustomActionData')"
}

attack_no_foreign_dpinst() { # dpinst.exe ran from the product's folder only, if at all
    local dir
    dir=$(system_windir)
    expect_in "action log" '^VantorCustomAction: DPInst.exe not started, INSTALLDIR is not a local absolute folder: .* \(error 13\)$' \
        "$(action_log_lines "$LOG")"
    expect_eq "dpinst.exe outside the product" "" \
        "$(system_recorded | grep -vF "${dir}System\\dpinst.exe" || true)"
}

attack_untrusted_tool_refused() { # nothing started from a folder everyone can change
    expect_in "DIFxInstall result" '^(0|3)$' "$(action_result "$LOG" DIFxInstall)"
    expect_in "action log" '^VantorCustomAction: .*\\System\\dpinst\.exe not started: .*\\System\\ can be changed by Everyone \(add file, add folder, delete child, delete\) \(error 5\)$' \
        "$(action_log_lines "$LOG")"
    expect_eq "dpinst.exe started" "" "$(system_recorded)"
}

attack_config_refused() { # SetConfigLanguage wrote no file through the second name
    # Return="ignore": Wine logs such an action's end as "Return value 1".
    expect_in "SetConfigLanguage result" '^(1|3)$' "$(action_result "$LOG" SetConfigLanguage)"
    expect_in "action log" '^VantorCustomAction: Refused to rewrite .*VantorDemo\.exe\.config: it has 2 hard links \(error 5\)$' \
        "$(action_log_lines "$LOG")"
    expect_eq "outside file" "$ATTACK_OUTSIDE_SUM" "$(sha256sum <"$ATTACK_OUTSIDE_CONFIG")"
}

attack_language_outside() { # no configuration file outside the product rewritten
    local prefix=$WINEPREFIX/drive_c product file
    product=$(system_dir)
    while IFS= read -r file; do
        cmp -s "$ROOT/e2e/demo/VantorDemo.exe.config" "$file" ||
            fail "rewritten outside the product: ${file#"$prefix"/}"
    done < <(find "$prefix" -name 'VantorDemo.exe.config*' ! -path "$product/*" 2>/dev/null)
    # Where the action was handed such a path, it said why it left it.
    if action_log_lines "$LOG" | grep -q '^VantorCustomAction: Refused to rewrite '; then
        expect_in "action log" '^VantorCustomAction: Refused to rewrite .*VantorDemo\.exe\.config: not a plain absolute path \(error 5\)$' \
            "$(action_log_lines "$LOG")"
    fi
}

# attack_quote TEXT: TEXT as an extended regex that matches it alone.
attack_quote() { sed 's/[][\\.*^$(){}+?|]/\\&/g' <<<"$1"; }

attack_folder_recalled() { # the repair worked in the folder of the first installation
    local dir
    dir=$(system_windir)
    expect_in "action log" "^VantorCustomAction: $(attack_quote "INSTALLDIR=$1 given, the folder of the first installation $dir is used")\$" \
        "$(action_log_lines "$LOG")"
    expect_eq "INSTALLDIR" "$dir" "$(logged_property "$LOG" INSTALLDIR)"
    expect_eq "dpinst.exe started" "${dir}System\\dpinst.exe /SA /A /D /SW" "$(system_recorded | tail -1)"
    [ ! -e "$ATTACK_EVIL/System/dpinst.log" ] || fail "the planted dpinst.exe ran: $(cat "$ATTACK_EVIL/System/dpinst.log")"
    cmp -s "$ATTACK_FIXTURE_DPINST" "$ATTACK_EVIL/System/dpinst.exe" || fail "the planted dpinst.exe changed"
}

attack_cached_choices_patched() { # the applications carry the cached choices
    expect_eq "applications" \
        "$(expected_apps 3200 3000 3000 ', port 0, country 44, serial "AB123", version 1000')" "$(run_apps)"
    expect_not_in "action log" 'EVIL7777' "$(action_log_lines "$LOG" | grep -v ' given, the cached ')"
}

attack_downgrade_refused() { # stopped before FrobMajorUpgrade could list 2.0
    expect_eq "NEWERVERSIONDETECTED" "$DEMO2_CODE" "$(logged_property "$LOG" NEWERVERSIONDETECTED)"
    expect_eq "FrobMajorUpgrade" "not run" "$(action_result "$LOG" FrobMajorUpgrade)"
    expect_eq "2.0 registered" registered "$(product_state "$DEMO2_CODE")"
    expect_eq "1.0 registered" absent "$(product_state "$DEMO_CODE")"
    [ -f "$(installed_file "$ARCH" "Vantor Demo")" ] || fail "2.0's file is gone"
}

# --- the table ---------------------------------------------------------------
#
# attack NAME PACKAGE RC SETUP CHECK STEP...: one case, case_attack_NAME.
#   PACKAGE  what is installed first: demo, or a function naming a variant
#   RC       msiexec's code for the attack step
#   SETUP    what is planted before the attack step ("-" for nothing; several
#            functions separated by blanks)
#   CHECK    what the row's attack aimed at, checked after the step
#   STEP     "repair PROPERTY=VALUE..." (msiexec /i REINSTALL=ALL
#            REINSTALLMODE=vomus on the installed package), "reinstall
#            PROPERTY=VALUE..." (REINSTALL=ALL alone), "maintain
#            PROPERTY=VALUE..." (msiexec /i on the installed package, e.g. with
#            ADDLOCAL), or "install PACKAGE" (msiexec /i of another package)
# A repair takes the install folder and the choices from the product's cache
# key (RecallChoices): a hostile value on its command line reaches nothing.
# The rows that show what the deferred actions' own checks do with such a
# value drop that key first (attack_drop_cache), as a product whose cache
# has gone would. The install folder rows give a harbor choice that the
# setter's condition refuses (an empty one cannot be passed through cmd and
# msiexec here): ConfigureHarbor (4200) would otherwise refuse the path below
# that folder before the driver package runner (4300) is reached.
# A repair under Wine copies every shipped file over the installed one first,
# whatever REINSTALL and REINSTALLMODE say (through a hard link too): what
# the actions then do to the product's files shows against the shipped ones.
attack() {
    local name=$1
    eval "case_attack_$name() { attack_run \"\${ATTACK_$name[@]}\"; }"
    shift
    eval "ATTACK_$name=(\"\$@\")"
}

# The profile is a recorded choice: a repair puts the recorded one in place
# again, whatever its command line gives.
attack legitimate_repair demo 0 - "attack_harbor_took harbor.cfg.ini" \
    repair DEFAULT_HARBOR_CONFIG=coastal.ini
attack harbor_path_out_of_the_product demo 0 attack_drop_cache attack_harbor_kept \
    repair 'DEFAULT_HARBOR_CONFIG=..\..\..\..\users\Public\x/../../../evil/payload.ini'
attack harbor_forward_slashes_only demo 0 attack_drop_cache attack_harbor_kept \
    repair 'DEFAULT_HARBOR_CONFIG=x/../../../../../evil/payload.ini'
attack harbor_drive_path demo 0 attack_drop_cache attack_harbor_kept \
    repair 'DEFAULT_HARBOR_CONFIG=C:evil\payload.ini'
attack harbor_path_without_the_setter_check attack_unguarded_demo 1603 attack_drop_cache attack_harbor_refused \
    repair 'DEFAULT_HARBOR_CONFIG=..\..\..\..\users\Public\x/../../../evil/payload.ini'
attack harbor_target_hard_linked demo 1603 attack_hard_link_tessel attack_harbor_target_refused \
    repair DEFAULT_HARBOR_CONFIG=coastal.ini
attack patch_fields_shifted_by_a_bar demo 0 attack_drop_cache attack_records_untouched \
    repair 'DEFAULT_CONVERTER=12^|X9.9.9^|X7^|X9^|X1033^|XEVIL666^|X'
attack install_folder_unc demo 1603 "attack_drop_cache attack_plant_dpinst" attack_no_foreign_dpinst \
    repair 'INSTALLDIR=\\host\share\' DEFAULT_HARBOR_CONFIG=none:
attack install_folder_device_path demo 1603 "attack_drop_cache attack_plant_dpinst" attack_no_foreign_dpinst \
    repair 'INSTALLDIR=\\.\C:\evil\' DEFAULT_HARBOR_CONFIG=none:
attack install_folder_relative demo 1603 "attack_drop_cache attack_plant_dpinst" attack_no_foreign_dpinst \
    repair 'INSTALLDIR=evil\' DEFAULT_HARBOR_CONFIG=none:
attack tool_folder_writable_by_everyone demo 1603 attack_open_system_folder \
    attack_untrusted_tool_refused repair
# A local folder the user owns, with the tool planted there and held open:
# the repair works in the product's own folder, the planted tool never runs.
attack install_folder_of_the_user demo 0 attack_plant_held_dpinst 'attack_folder_recalled C:\evil\' \
    repair 'INSTALLDIR=C:\evil\'
# Runs of the installed product that a non-empty REINSTALLMODE does not
# mark: the applications get the cached choices, not the command line's.
attack feature_change_with_choices demo 0 attack_stamp_apps attack_cached_choices_patched \
    maintain ADDLOCAL=Drivers_UL81 SERIAL_NUMBER=EVIL7777 DEFAULT_CONVERTER=81
attack reinstall_without_mode_with_choices demo 0 attack_stamp_apps attack_cached_choices_patched \
    reinstall SERIAL_NUMBER=EVIL7777 DEFAULT_CONVERTER=81
# The language is a preference (Return="ignore"): the refusal answers 5
# and the repair goes on.
attack config_file_hard_linked demo 0 attack_hard_link_config attack_config_refused \
    repair
# The language action with a path that a repair's INSTALLDIR leads out of
# the product: a device path, and a "/" with "..". (msiexec hands the first
# as "\.\C:\evil3\", which Wine opens as C:\evil3\.)
attack language_device_path attack_demo_without_runner 0 - attack_language_outside \
    repair 'INSTALLDIR=\\.\C:\evil3\' DEFAULT_HARBOR_CONFIG=none:
attack language_slash_and_dots attack_demo_without_runner 0 - attack_language_outside \
    repair 'INSTALLDIR=C:\evil3\x/..\' DEFAULT_HARBOR_CONFIG=none:
attack downgrade_over_2_0 demo2 1603 - attack_downgrade_refused \
    install "$DEMO"

attack_run() { # package rc setup check step...
    local package=$1 rc=$2 setup=$3 check=$4 step=$5 before
    shift 5
    attack_paths
    attack_clean
    mkdir -p "$ATTACK_EVIL" && printf '%s' "$ATTACK_PAYLOAD" >"$ATTACK_EVIL/payload.ini"
    local installed
    case $package in
        demo) installed=$DEMO ;;
        demo2) installed=$DEMO2 ;;
        *) installed=$($package) ;;
    esac
    install install "$installed" $CHOICES
    [ "$RC" = 0 ] || { fail "installation before the attack: msiexec answered $RC"; return; }
    local prepare
    for prepare in $setup; do
        [ "$prepare" = - ] || $prepare
    done
    before=$(attack_outside)
    mkdir -p "$ATTACK_CWD" && cd "$ATTACK_CWD" || fail "setup: $ATTACK_CWD"
    case $step in
        repair) msi "attack-$CASE_NAME" /i "$installed" REINSTALL=ALL REINSTALLMODE=vomus "$@" ;;
        reinstall) msi "attack-$CASE_NAME" /i "$installed" REINSTALL=ALL "$@" ;;
        maintain) msi "attack-$CASE_NAME" /i "$installed" "$@" ;;
        install) msi "attack-$CASE_NAME" /i "$1" $CHOICES ;;
    esac
    cd "$ROOT" || return
    echo "  attack ${CASE_NAME#case_attack_}: msiexec $RC" >>"$LOGS/attack-outcomes.txt"
    expect_eq "msiexec $step" "$rc" "$RC"
    $check
    expect_eq "outside the product" "$before" "$(attack_outside)"
    attack_clean
}

# An install folder of the administrator's choice: every later run works
# there (a repair, a repair whose command line points INSTALLDIR elsewhere,
# the removal), and the removal leaves nothing. (Not a row of the table: it
# installs elsewhere and ends with the removal.)
case_attack_install_folder_chosen_by_the_administrator() {
    local loggers=$WINEPREFIX/drive_c/Loggers left
    attack_paths
    attack_clean
    rm -rf "$loggers"
    install install-loggers "$DEMO" $CHOICES 'INSTALLDIR=C:\Loggers\'
    expect_eq "msiexec install into C:\\Loggers\\" 0 "$RC"
    [ -f "$loggers/rondo32.exe" ] || { fail "rondo32.exe is not in C:\\Loggers\\"; return; }
    msi repair-loggers /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus
    expect_eq "msiexec repair" 0 "$RC"
    expect_eq "the repair's INSTALLDIR" 'C:\Loggers\' "$(logged_property "$LOG" INSTALLDIR)"
    msi repair-elsewhere /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus 'INSTALLDIR=C:\evil\'
    expect_eq "msiexec repair pointing elsewhere" 0 "$RC"
    expect_in "action log" "^VantorCustomAction: $(attack_quote 'INSTALLDIR=C:\evil\ given, the folder of the first installation C:\Loggers\ is used')\$" \
        "$(action_log_lines "$LOG")"
    expect_eq "dpinst.exe started" 'C:\Loggers\System\dpinst.exe /SA /A /D /SW' \
        "$(tr -d '\r' <"$loggers/System/dpinst.log" 2>/dev/null | tail -1)"
    [ ! -e "$ATTACK_EVIL" ] || fail "written outside the product: $(cd "$ATTACK_EVIL" && find . | tr '\n' ' ')"
    [ ! -e "$(apps_dir)/rondo32.exe" ] || fail "rondo32.exe written into the package's default folder"
    expect_eq "outside the product" "" \
        "$(find "$WINEPREFIX/drive_c" \( -name tessel.ini -o -name dpinst.log \) ! -path "$loggers/*" 2>/dev/null)"
    uninstall remove-loggers "$DEMO"
    expect_eq "msiexec removal" 0 "$RC"
    # The fixture dpinst.exe's own log of its runs is no part of the product;
    # the drivers of the first installation's converter are (the engine
    # installs them by their feature's condition, and removes them).
    left=$(cd "$loggers" 2>/dev/null && find . -type f ! -name dpinst.log)
    [ -z "$left" ] || fail "left in C:\\Loggers\\ after the removal: $(tr '\n' ' ' <<<"$left")"
    expect_eq "product" absent "$(product_state "$DEMO_CODE")"
    expect_eq "cache" "(no key)" "$(cache_of "$ARCH" "$DEMO_CODE")"
    echo "  attack install_folder_chosen_by_the_administrator: install, repair, repair elsewhere, removal done" >>"$LOGS/attack-outcomes.txt"
    rm -rf "$loggers"
}
