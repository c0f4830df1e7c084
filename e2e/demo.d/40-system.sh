# Demo part: the language, the auto-launch service and the driver package
# runs (sourced by demo.sh). The demo product installs a configuration file
# whose appSettings SetConfigLanguage rewrites for ProductLanguage (1033, the
# applications' default: its French setting goes, nothing comes), the fixture
# service that StartVantorAutoLauchService starts, and the fixture dpinst.exe
# that the driver package actions run.

SYSTEM_SERVICE='Vantor Auto Launch Service'

system_demo_dir() { dirname "$(installed_file "$ARCH" "Vantor Demo")"; }

system_show_file() { # path
    if [ -f "$1" ]; then
        while IFS= read -r line; do item "$line"; done < <(tr -d '\r' <"$1" | expand -t 4)
    else
        item "(no file)"
    fi
}

report_system_config_shipped() {
    section "configuration file VantorDemo.exe.config, as the package ships it"
    system_show_file "$ROOT/e2e/demo/VantorDemo.exe.config"
}

report_system_config() {
    section "configuration file VantorDemo.exe.config, installed (ProductLanguage 1033)"
    system_show_file "$(system_demo_dir)/VantorDemo.exe.config"
}

report_system_service() {
    local out state
    section "service \"$SYSTEM_SERVICE\""
    if out=$(wine_capture sc query "$SYSTEM_SERVICE"); then
        state=$(sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p' <<<"$out")
        item "registered, state ${state:-unknown}"
    else
        item "not registered"
    fi
}

# What the tool's exit code means to the action: bit 31 failure (1603),
# bit 30 a restart needed (3010).
system_exit_meaning() { # 0xHEX
    local code=$(($1))
    if ((code & 0x80000000)); then
        echo "failure, the action answers 1603"
    elif ((code & 0x40000000)); then
        echo "restart needed, the action answers 3010"
    else
        echo "done, the action answers 0"
    fi
}

# Each run of dpinst.exe the actions logged: command line, then exit code
# and what the action made of it.
report_system_drivers() {
    local line command="" runs=0
    section "driver package runs (dpinst.exe command lines and exit codes)"
    while IFS= read -r line; do
        case $line in
        *"Calling DPInst.exe with command line: "*)
            command=${line#*command line: }
            ;;
        *"DPInst.exe return code: "*)
            item "$command"
            item "    exit code ${line#*return code: }: $(system_exit_meaning "${line#*return code: }")"
            runs=$((runs + 1))
            ;;
        esac
    done < <(action_log_lines "$LOG")
    [ "$runs" -gt 0 ] || item "(none)"
}

BEFORE_REPORT+=(report_system_config_shipped)
INSTALL_REPORT+=(report_system_config report_system_service report_system_drivers)
REPAIR_REPORT+=(report_system_config report_system_service report_system_drivers)
REMOVE_REPORT+=(report_system_service report_system_drivers)
