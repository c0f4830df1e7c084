# Application patching in the package tier (sourced by tier.sh): Vantor Demo
# installs the nine fixture applications, its patch actions write the record
# into each, and the applications themselves, run under Wine, print what they
# read from it.

# name:layout of each application, in the order of the package's actions.
PATCH_APPS=("rondo32.exe:3" "RONDOdemo.exe:3" "fathom.exe:1" "quill.exe:1" "larch32.exe:1"
            "TERN32.exe:1" "Solvane CMS.exe:3" "Corvid Vigilo.exe:3" "sable32.exe:2")
PATCH_ACTIONS=(RondoApplyPatchInfo RondoDemoApplyPatchInfo FathomApplyPatchInfo
               QuillApplyPatchInfo LarchApplyPatchInfo TernApplyPatchInfo
               RondoApplyPatchInfoHarbor RondoApplyPatchInfoMistral SableApplyPatchInfo)
PATCH_TOOL=$ROOT/build/host/tools/patchinfo
# The German edition: ProductLanguage 1031 comes from the package, as msiexec
# takes no mixed-case property from its command line.
DEMO_DE=$(winpath "$(package_path "$ARCH" demo-de)")

apps_dir() { dirname "$(installed_file "$ARCH" "Vantor Demo")"; }

# run_apps: each installed application run once, one line "name: output"
# each. One cmd for all nine: a Wine start per program would cost seconds on
# x86.
run_apps() {
    local script=$LOGS/run-apps.cmd app
    {
        printf '@echo off\r\ncd /d "%s"\r\n' "$(winpath "$(apps_dir)")"
        for app in "${PATCH_APPS[@]}"; do
            printf 'echo == %s\r\n"%s"\r\n' "${app%:*}" "${app%:*}"
        done
    } >"$script"
    wine_capture cmd /c "$(winpath "$script")" |
        awk '/^== / { name = substr($0, 4); next } { print name ": " $0 }'
}

# expected_apps CODE1 CODE2 CODE3 REST [SERIAL1]: the lines run_apps must
# print, the device code by layout, REST the fields after it (", port ...").
# SERIAL1 replaces the serial text of layout 1 applications.
expected_apps() {
    local codes=("$1" "$2" "$3") rest=$4 serial1=${5:-} app name layout line
    for app in "${PATCH_APPS[@]}"; do
        name=${app%:*} layout=${app##*:}
        line="converter ${codes[layout - 1]}$rest"
        [ "$layout" = 1 ] && [ -n "$serial1" ] && line=$(sed "s/serial \"[^\"]*\"/serial \"$serial1\"/" <<<"$line")
        echo "$name: $line"
    done
}

# expect_patch_actions WHAT RESULT: every patch action's result in $LOG.
expect_patch_actions() {
    local action
    for action in "${PATCH_ACTIONS[@]}"; do
        expect_eq "$1: $action" "$2" "$(action_result "$LOG" "$action")"
    done
}

# Each installed application is its fixture with at most one 34-byte span
# rewritten: nothing but the record changed.
expect_only_records_changed() {
    local app name differences span
    for app in "${PATCH_APPS[@]}"; do
        name=${app%:*}
        [ "$(stat -c %s "$(apps_dir)/$name")" = "$(stat -c %s "$ROOT/build/$ARCH/fixtures/$name")" ] ||
            { fail "$name: size differs from the fixture"; continue; }
        differences=$(cmp -l "$ROOT/build/$ARCH/fixtures/$name" "$(apps_dir)/$name" | awk '{print $1}')
        [ -n "$differences" ] || { fail "$name: not patched"; continue; }
        span=$(($(tail -1 <<<"$differences") - $(head -1 <<<"$differences")))
        [ "$span" -lt 34 ] || fail "$name: bytes changed over $((span + 1)) bytes, more than a record"
    done
}

case_patch_install_writes_records_the_applications_read() {
    [ -f "$(package_path "$ARCH" demo-de)" ] || { fail "missing demo-de.msi (run ./run build)"; return; }
    install install-patch "$DEMO_DE" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    expect_patch_actions "install" 1
    expect_eq "applications after install" \
        "$(expected_apps 3200 3000 3000 ', port 0, country 49, serial "AB123", version 1000')" \
        "$(run_apps)"
    expect_only_records_changed

    uninstall uninstall-patch "$DEMO_DE"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_patch_actions "uninstall" "not run"
    # The fixture dpinst.exe's own log of its runs stays in System\ for the
    # tests that read it; everything the product installed must be gone, the
    # chosen converter's drivers too.
    local left
    left=$(cd "$(apps_dir)" 2>/dev/null && find . -type f ! -name dpinst.log ! -name dpinst-exit.txt)
    [ -z "$left" ] || fail "applications left after uninstall: $left"
}

case_patch_repair_writes_the_cached_choices() {
    local app
    [ -x "$PATCH_TOOL" ] || { fail "missing $PATCH_TOOL (run ./run build)"; return; }
    [ -f "$(package_path "$ARCH" demo-de)" ] || { fail "missing demo-de.msi (run ./run build)"; return; }
    install install-patch "$DEMO_DE" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    # Records that no installation writes: the repair must write them over.
    for app in "${PATCH_APPS[@]}"; do
        "$PATCH_TOOL" stamp "$(apps_dir)/${app%:*}" --converter 1 --port 1 --country 1 \
            --serial ZZZZ --version 1 >/dev/null || fail "stamp ${app%:*}"
    done
    msi repair-patch /i "$DEMO_DE" REINSTALL=ALL REINSTALLMODE=vomus \
        DEFAULT_CONVERTER=16 DEFAULT_COM_PORT=4 DEFAULT_PAR_PORT=2 SERIAL_NUMBER=CD456
    expect_eq "msiexec repair" 0 "$RC"
    expect_patch_actions "repair" 1
    expect_eq "applications after repair" \
        "$(expected_apps 3200 3000 3000 ', port 0, country 49, serial "AB123", version 1000')" \
        "$(run_apps)"
}

case_patch_demonstration_source_and_a_full_serial_number() {
    # The English edition: 1033 gives the United Kingdom's code. The demo
    # offers 99 only when an administrator's command line lists it.
    install install-patch-demo "$DEMO" CONVERTER_LIST=99 DEFAULT_CONVERTER=99 SERIAL_NUMBER=ABCDEFGH
    expect_eq "msiexec install" 0 "$RC"
    # Layout 1 writes "DEMO" and its zero over the start of the serial number.
    expect_eq "applications after install" \
        "$(expected_apps 99 0 99 ', port 0, country 44, serial "ABCDEFGH", version 1000' DEMO)" \
        "$(run_apps)"
}

# A converter the catalogue does not know never passes a first installation
# (the lifecycle table's refusals); one that an earlier release cached still
# reaches the patch actions on a repair, which leave the applications as
# shipped.
case_patch_unknown_converter_installs_the_applications_unpatched() {
    local app
    install install-patch-unknown "$DEMO" DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=3 SERIAL_NUMBER=AB123
    expect_eq "msiexec install" 0 "$RC"
    reg_do add "HKLM\\$COMPANY_KEY\\$DEMO_CODE" /v DEFAULT_CONVERTER /d 7 /f
    msi repair-patch-unknown /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus
    expect_eq "msiexec repair" 0 "$RC"
    expect_patch_actions "repair" 1
    expect_eq "applications after the repair" \
        "$(expected_apps 0 0 0 ', port 0, country 0, serial "", version 0')" "$(run_apps)"
    for app in "${PATCH_APPS[@]}"; do
        cmp -s "$ROOT/build/$ARCH/fixtures/${app%:*}" "$(apps_dir)/${app%:*}" ||
            fail "${app%:*} differs from its fixture"
    done
}
