# Device and configuration choices and the major upgrade to 2.0
# (package/VantorComboBoxes.wxi, VantorHarbor.wxi, VantorMajorUpgrade.wxi,
# e2e/demo/choice.wxi).
source "$ROOT/e2e/lib/choice.sh"

CHOICE_ROWS=$ROOT/build/$ARCH/e2e/choice_rows.exe
DEMO2_MSI=$(package_path "$ARCH" demo2)

BEFORE_REPORT+=(report_combo_boxes)
INSTALL_REPORT+=(report_harbor_config)
EXTRA_STEPS+=(step_major_upgrade)

# The UI sequence's rows are temporary and leave no trace in a log: a session
# on the package runs the package's own actions and lists what they offered.
report_combo_boxes() {
    local list line
    for list in "" "3000"; do
        if [ -z "$list" ]; then
            section "combo boxes offered (the package's CONVERTER_LIST)"
            set --
        else
            section "combo boxes offered with CONVERTER_LIST=$list (a single converter)"
            set -- "CONVERTER_LIST=$list"
        fi
        while IFS= read -r line; do item "$line"; done < <(wine_capture "$CHOICE_ROWS" "$(winpath "$MSI")" "$@")
    done
}

report_harbor_config() {
    local harbor chosen tessel file source="(no file alike)"
    harbor=$(demo_dir "$ARCH")/Harbor
    chosen=$(logged_property "$LOG" DEFAULT_HARBOR_CONFIG)
    section "harbor configuration"
    item "DEFAULT_HARBOR_CONFIG = ${chosen:-(none)}"
    item "ConfigureHarbor data  = $(logged_property "$LOG" ConfigureHarbor)"
    if [ -f "$harbor/tessel.ini" ]; then
        for file in "$harbor"/*.ini; do
            [ "${file##*/}" != tessel.ini ] && cmp -s "$file" "$harbor/tessel.ini" && source=${file##*/}
        done
        item "tessel.ini is a copy of: $source"
        while IFS= read -r tessel; do item "  | ${tessel%$'\r'}"; done <"$harbor/tessel.ini"
    else
        item "tessel.ini: (missing)"
    fi
}

# The cache keys of the family, one product code a line.
choice_cache_keys() {
    wine_capture reg query "HKLM\\$COMPANY_KEY" /reg:"$(reg_view "$ARCH")" | grep -o '{[0-9A-F-]*}$'
}

# 2.0 replaces 1.0 silently, without a choice on its command line, as an
# update rollout does: the choices of 1.0 carry over. Then 2.0 goes and 1.0
# comes back, so that the demo's own removal finds the product it installed.
step_major_upgrade() {
    local ok=0 value
    printf '\n== major upgrade: Vantor Demo 1.0 -> 2.0, silent, no choices on the command line\n'
    section "before"
    item "1.0 $DEMO_CODE: $(product_state "$DEMO_CODE")"
    item "2.0 $DEMO2_CODE: $(product_state "$DEMO2_CODE")"
    item "cache keys: $(choice_cache_keys | tr '\n' ' ')"
    step "install 2.0 (msiexec /qn /i demo2.msi)" "$LOGS/upgrade-2.0.log" /i "$(winpath "$DEMO2_MSI")" || ok=1
    section "upgrade actions"
    for value in FindRelatedProducts FrobMajorUpgrade CarryOverChoices RemoveExistingProducts \
        CacheProperties ClearReplacedCaches; do
        item "$(printf '%-24s %s' "$value" "$(describe_result "$(action_result "$LOG" "$value")")")"
    done
    section "what carried over, and the replaced release's cache"
    action_log_lines "$LOG" | grep -E '^VantorCustomAction: (Choices|Cache of|No cache of|Drivers feature)' |
        while IFS= read -r value; do item "$value"; done
    section "ACTIONPROPERTY (table codes for the demo's upgrade code, then what the engine found)"
    tr ';' '\n' <<<"$(logged_property "$LOG" ACTIONPROPERTY)" | sed '/^$/d' | while IFS= read -r value; do
        if [ "$value" = "$DEMO_CODE" ]; then item "$value  <- Vantor Demo 1.0"; else item "$value"; fi
    done
    section "VANTORDEMO_OLDER (the Upgrade table's own detection row)"
    item "$(logged_property "$LOG" VANTORDEMO_OLDER)"
    section "after"
    item "1.0 $DEMO_CODE: $(product_state "$DEMO_CODE")"
    item "2.0 $DEMO2_CODE: $(product_state "$DEMO2_CODE")"
    item "cache keys (one, 2.0's): $(choice_cache_keys | tr '\n' ' ')"
    while IFS= read -r value; do item "  $value"; done < <(cache_of "$ARCH" "$DEMO2_CODE")
    item "rondo32.exe of 2.0 prints: $(wine_capture "$(winpath "$(demo_dir "$ARCH")/rondo32.exe")")"
    item "Wine hands a property's whole value to one nested msiexec, so the list"
    item "of several codes removes nothing there; 1.0 was removed through the"
    item "single code of VANTORDEMO_OLDER."
    # The downgrade guard: 1.0 over 2.0 stops at its launch condition.
    LOG=$LOGS/downgrade-1.0.log
    value=$(msiexec_rc "$LOG" /qn /i "$(winpath "$MSI")" $CHOICES)
    printf '\n== install 1.0 over 2.0: msiexec answered %s (1603: refused)\n' "$value"
    [ "$value" = 1603 ] || ok=1
    item "NEWERVERSIONDETECTED (FindRelatedProducts): $(logged_property "$LOG" NEWERVERSIONDETECTED)"
    item "FrobMajorUpgrade: $(action_result "$LOG" FrobMajorUpgrade) (the installation stopped before it)"
    item "1.0 $DEMO_CODE: $(product_state "$DEMO_CODE")"
    item "2.0 $DEMO2_CODE: $(product_state "$DEMO2_CODE")"
    step "uninstall 2.0" "$LOGS/upgrade-uninstall-2.0.log" /x "$(winpath "$DEMO2_MSI")" || ok=1
    step "install 1.0 again ($CHOICES)" "$LOGS/upgrade-reinstall-1.0.log" /i "$(winpath "$MSI")" $CHOICES || ok=1
    return $ok
}
