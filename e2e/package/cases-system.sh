# Package cases of the language, service and driver package actions (sourced
# by tier.sh): the configuration file of the demo product, the auto-launch
# service, and the fixture dpinst.exe in "System\" below the install folder,
# which records its command lines in dpinst.log and exits with the code
# written to dpinst-exit.txt beside it (0 without one).

SERVICE=$AUTO_LAUNCH_SERVICE

# The demo product's install folder, as Unix path and as the actions see it.
system_dir() { dirname "$(installed_file "$ARCH" "Vantor Demo")"; }
system_windir() {
    local programs="Program Files"
    [ "$ARCH" = x86 ] && programs="Program Files (x86)"
    echo "C:\\$programs\\Vantor Technology\\Vantor Demo\\"
}

# system_exit CODE: the fixture dpinst.exe's next exit codes ("" for none).
# Written before an installation too: the folder is made for it.
system_exit() {
    mkdir -p "$(system_dir)/System"
    if [ -n "$1" ]; then
        printf '%s' "$1" >"$(system_dir)/System/dpinst-exit.txt"
    else
        rm -f "$(system_dir)/System/dpinst-exit.txt"
    fi
}
# The fixture's files are no part of the package: each case starts without.
system_clean() { rm -f "$(system_dir)/System/dpinst-exit.txt" "$(system_dir)/System/dpinst.log"; }
system_recorded() { tr -d '\r' 2>/dev/null <"$(system_dir)/System/dpinst.log"; }
system_config() { tr -d '\r' <"$(system_dir)/VantorDemo.exe.config" 2>/dev/null || echo "(missing)"; }

# The service as the prefix's service manager reports it: its state number,
# or "(none)" when it is not registered.
system_service_state() {
    local out
    out=$(wine_capture sc query "$SERVICE") || { echo "(none)"; return; }
    sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p' <<<"$out"
}
# What the service manager says of the service, and whether its process
# runs, on one line.
system_service_report() {
    local out rc running=no
    out=$(wine_capture sc query "$SERVICE")
    rc=$?
    wine_image_running "$AUTO_LAUNCH_IMAGE" && running=yes
    echo "sc query answered $rc$(tr -s ' \n' ' ' <<<" $out")process running: $running"
}
# system_service_removed WHEN: the service and its process are gone, within
# the time Wine takes for it after msiexec's removal returned (lib/wine.sh).
system_service_removed() {
    wine_service_gone "$SERVICE" "$AUTO_LAUNCH_IMAGE" ||
        fail "service $1: still there 10 s later: $(system_service_report)"
}
system_service_key() { key_exists "$ARCH" "SYSTEM\\CurrentControlSet\\Services\\$SERVICE"; }

# system_install STEP PACKAGE [PROPERTIES...]: the installation a case starts
# from. When it fails, the case fails here, naming the log and what the
# service manager holds; the checks after it would only echo the failure.
system_install() {
    install "$@"
    [ "$RC" = 0 ] && return 0
    fail "the opening install answered $RC (log: $(basename "$LOG")); $(system_service_report)"
    return 1
}

# system_variant NAME SQL: a copy of demo.msi changed by msibuild (the same
# product), for what neither the command line nor the demo's build can vary.
system_variant() {
    local dir=$WINE_DIR/package-$ARCH-variants
    mkdir -p "$dir"
    cp "$(package_path "$ARCH" demo)" "$dir/$1.msi" &&
        msibuild "$dir/$1.msi" -q "$2" >/dev/null 2>&1 || fail "setup: msibuild $1.msi"
    winpath "$dir/$1.msi"
}

# The config file as shipped has a French setting and one other.
SYSTEM_CONFIG_EN=$'<?xml version="1.0" encoding="utf-8"?>\n<configuration>\n\t<appSettings>\n\t\t<add key="DevicePollMilliseconds" value="250"/>\n\t</appSettings>\n</configuration>'
SYSTEM_CONFIG_DE=$'<?xml version="1.0" encoding="utf-8"?>\n<configuration>\n\t<appSettings>\n\t\t<add key="Language" value="de-DE"/>\n\t\t<add key="DevicePollMilliseconds" value="250"/>\n\t</appSettings>\n</configuration>'

case_system_install_sets_the_language_starts_the_service_and_installs_drivers() {
    local dir
    dir=$(system_windir)
    system_clean
    install install-system "$DEMO" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    local action
    for action in SetSetConfigLanguage SetDIFxInstall SetConfigLanguage DIFxInstall \
        StartVantorAutoLauchService; do
        expect_eq "$action" 1 "$(action_result "$LOG" "$action")"
    done
    expect_eq "WinUsbUninstall" "not run" "$(action_result "$LOG" WinUsbUninstall)"
    expect_eq "VantorppUninstall" "not run" "$(action_result "$LOG" VantorppUninstall)"
    # The patch actions say what each wrote, one line an application.
    expect_eq "patch lines" 9 \
        "$(action_log_lines "$LOG" | grep -c '^VantorCustomAction: .*\.exe patched: converter 3000 (code 3[02]00), port 0, country 44, serial "AB123", version ')"
    expect_eq "action log" "VantorCustomAction: Calling DPInst.exe with command line: ${dir}System\\dpinst.exe /SA /A /D /SW
VantorCustomAction: DPInst.exe return code: 0x0
VantorCustomAction: Appling language: 1033 to ${dir}VantorDemo.exe.config" \
        "$(action_log_lines "$LOG" | grep -E '^VantorCustomAction: (Calling DPInst|DPInst|Appling language)')"
    expect_eq "dpinst.exe command lines" "${dir}System\\dpinst.exe /SA /A /D /SW" "$(system_recorded)"
    # English is the applications' default: the setting goes, none comes.
    expect_eq "configuration file" "$SYSTEM_CONFIG_EN" "$(system_config)"
    expect_eq "configuration line ends" "$(wc -l <<<"$SYSTEM_CONFIG_EN")" \
        "$(grep -c $'\r$' "$(system_dir)/VantorDemo.exe.config")"
    expect_eq "service state (4 running)" 4 "$(system_service_state)"
}

case_system_language_follows_product_language() {
    local german
    system_clean
    # Wine keeps the package's ProductLanguage over one given on the command
    # line: the Property table carries it instead.
    german=$(system_variant demo-1031 "UPDATE Property SET Value='1031' WHERE Property='ProductLanguage'")
    install install-1031 "$german" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    expect_eq "SetConfigLanguage" 1 "$(action_result "$LOG" SetConfigLanguage)"
    expect_in "action log" "^VantorCustomAction: Appling language: 1031 to .*VantorDemo\.exe\.config$" \
        "$(action_log_lines "$LOG")"
    expect_eq "configuration file" "$SYSTEM_CONFIG_DE" "$(system_config)"
}

# The language is a preference, not a reason to roll back: an LCID without
# a culture name leaves the configuration file as shipped, and the
# installation goes on.
case_system_unknown_language_installs_with_the_file_as_shipped() {
    local hebrew
    system_clean
    hebrew=$(system_variant demo-1037 "UPDATE Property SET Value='1037' WHERE Property='ProductLanguage'")
    install install-1037 "$hebrew" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    # Return="ignore": Wine logs such an action's end as "Return value 1".
    expect_in "SetConfigLanguage result" '^(1|3)$' "$(action_result "$LOG" SetConfigLanguage)"
    expect_in "action log" '^VantorCustomAction: Appling language: 1037 to ' "$(action_log_lines "$LOG")"
    expect_eq "configuration file" "$(tr -d '\r' <"$ROOT/e2e/demo/VantorDemo.exe.config")" "$(system_config)"
    expect_eq "service state (4 running)" 4 "$(system_service_state)"
}

case_system_repair_finds_the_service_running() {
    system_clean
    system_install install "$DEMO" $CHOICES || return
    expect_eq "service state after install" 4 "$(system_service_state)"
    msi repair-system /i "$DEMO" REINSTALL=ALL REINSTALLMODE=vomus
    expect_eq "msiexec repair" 0 "$RC"
    expect_eq "StartVantorAutoLauchService" 1 "$(action_result "$LOG" StartVantorAutoLauchService)"
    expect_eq "service state after repair" 4 "$(system_service_state)"
    expect_eq "configuration file" "$SYSTEM_CONFIG_EN" "$(system_config)"
}

case_system_uninstall_removes_the_driver_packages_and_the_service() {
    local dir
    dir=$(system_windir)
    system_clean
    system_install install "$DEMO" $CHOICES || return
    uninstall uninstall-system "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "WinUsbUninstall" 1 "$(action_result "$LOG" WinUsbUninstall)"
    expect_eq "VantorppUninstall" 1 "$(action_result "$LOG" VantorppUninstall)"
    local action
    for action in DIFxInstall SetConfigLanguage StartVantorAutoLauchService; do
        expect_eq "$action" "not run" "$(action_result "$LOG" "$action")"
    done
    expect_eq "action log" "VantorCustomAction: Calling DPInst.exe with command line: ${dir}System\\dpinst.exe /u  vantorwinusb.inf
VantorCustomAction: DPInst.exe return code: 0x0
VantorCustomAction: Calling DPInst.exe with command line: ${dir}System\\dpinst.exe /u  vantorpp.inf
VantorCustomAction: DPInst.exe return code: 0x0" "$(action_log_lines "$LOG")"
    expect_eq "dpinst.exe command lines" "${dir}System\\dpinst.exe /SA /A /D /SW
${dir}System\\dpinst.exe /u  vantorwinusb.inf
${dir}System\\dpinst.exe /u  vantorpp.inf" "$(system_recorded)"
    system_service_removed "after uninstall"
    system_service_key && fail "the service's registry key is still there"
    [ -e "$(system_dir)/System/dpinst.exe" ] && fail "dpinst.exe is still there"
    [ -e "$(system_dir)/VantorDemo.exe.config" ] && fail "the configuration file is still there"
    system_clean
}

# A restart request is 3010 from the action, which the engine does not take
# as success: the checked action fails the installation, which rolls back.
case_system_restart_request_fails_a_checked_install() {
    system_clean
    system_exit 0x40000001
    install install-restart "$DEMO" $CHOICES
    expect_eq "msiexec install" 1603 "$RC"
    # A failed action ends with "Return value 3" on Windows, 0 under Wine.
    expect_in "DIFxInstall result" '^(0|3)$' "$(action_result "$LOG" DIFxInstall)"
    expect_in "action log" '^VantorCustomAction: DPInst.exe return code: 0x40000001$' \
        "$(action_log_lines "$LOG")"
    expect_not_in "action log" 'Appling language' "$(action_log_lines "$LOG")"
    system_service_removed "after the rollback"
    [ -e "$(system_dir)/VantorDemo.exe.config" ] && fail "the configuration file is still there"
    system_clean
}

# With the Continue type the same request lets the installation finish and
# stays in the log; the removals' requests likewise.
case_system_restart_request_with_continue_actions() {
    local tolerant
    system_clean
    tolerant=$(system_variant demo-continue "UPDATE CustomAction SET Type=3137 WHERE Action='DIFxInstall' OR Action='WinUsbUninstall' OR Action='VantorppUninstall'")
    system_exit 0x40000001
    install install-continue "$tolerant" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    expect_in "action log" '^VantorCustomAction: DPInst.exe return code: 0x40000001$' \
        "$(action_log_lines "$LOG")"
    expect_eq "service state" 4 "$(system_service_state)"
    expect_eq "configuration file" "$SYSTEM_CONFIG_EN" "$(system_config)"
    uninstall uninstall-continue "$tolerant"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "restart requests logged" 2 \
        "$(action_log_lines "$LOG" | grep -c '^VantorCustomAction: DPInst.exe return code: 0x40000001$')"
    system_service_removed "after uninstall"
    system_clean
}

# A driver package that cannot be removed fails the removal, and the product
# stays as it was.
case_system_failed_driver_removal_keeps_the_product() {
    system_clean
    system_install install "$DEMO" $CHOICES || return
    system_exit 0x80000000
    msi uninstall-refused-driver /x "$DEMO"
    expect_eq "msiexec uninstall" 1603 "$RC"
    expect_in "WinUsbUninstall result" '^(0|3)$' "$(action_result "$LOG" WinUsbUninstall)"
    expect_in "action log" '^VantorCustomAction: DPInst.exe return code: 0x80000000$' \
        "$(action_log_lines "$LOG")"
    [ -f "$(system_dir)/System/dpinst.exe" ] || fail "dpinst.exe is gone after the failed removal"
    [ -f "$(system_dir)/VantorDemo.exe.config" ] || fail "the configuration file is gone"
    system_service_key || fail "the service is no longer registered"
    system_exit ""
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall once the packages go" 0 "$RC"
    system_clean
}
