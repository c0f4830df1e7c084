# Device and configuration choices and the major upgrade (package/VantorComboBoxes.wxi,
# VantorHarbor.wxi, VantorMajorUpgrade.wxi,
# e2e/demo/choice.wxi), sourced by the package tier. The combo-box actions sit
# in the UI sequence, which Wine's msiexec runs with /qr only.

source "$ROOT/e2e/lib/choice.sh"

DEMO2=$(winpath "$(package_path "$ARCH" demo2)")

choice_dir() { demo_dir "$ARCH"; }

# A drivers feature that an action requested (the dialogs' single converter,
# a change of device) stays on disk after /x under Wine (README, "What Wine
# does differently"); each case that looks at the drivers files starts
# without such leftovers.
clear_drivers() { rm -rf "$(choice_dir)/Drivers"; }

qr_install() { # step package [properties...]
    local step=$1 package=$2
    shift 2
    LOG=$LOGS/$CASE_NAME.$step.log
    RC=$(msiexec_rc "$LOG" /qr /i "$package" "$@")
}

case_choice_ui_sequence_offers_the_list_and_puts_the_first_config_in_place() {
    clear_drivers
    qr_install install-qr "$DEMO" $CHOICES
    expect_eq "msiexec /qr install" 0 "$RC"
    expect_eq "AppendComboBox" 1 "$(action_result "$LOG" AppendComboBox)"
    expect_eq "PopulateHarborChoices" 1 "$(action_result "$LOG" PopulateHarborChoices)"
    expect_eq "CONVERTER_LIST_COUNT" 3 "$(logged_property "$LOG" CONVERTER_LIST_COUNT)"
    # Several converters: the user's choice stands.
    expect_eq "DEFAULT_CONVERTER" 3000 "$(logged_property "$LOG" DEFAULT_CONVERTER)"
    expect_eq "NUM_CONFIGS" 2 "$(logged_property "$LOG" NUM_CONFIGS)"
    expect_eq "DEFAULT_HARBOR_CONFIG" harbor.cfg.ini "$(logged_property "$LOG" DEFAULT_HARBOR_CONFIG)"
    expect_eq "ConfigureHarbor" 1 "$(action_result "$LOG" ConfigureHarbor)"
    local harbor
    harbor=$(choice_dir)/Harbor
    expect_eq "tessel.ini" "$(cat "$harbor/harbor.cfg.ini")" "$(cat "$harbor/tessel.ini" 2>&1)"
    # The chosen converter's drivers, and no other converter's.
    expect_eq "drivers installed" "US3000.txt" "$(ls "$(choice_dir)/Drivers" 2>&1)"
    uninstall uninstall "$DEMO"
    expect_eq "msiexec uninstall" 0 "$RC"
    [ -e "$harbor/tessel.ini" ] && fail "tessel.ini is still there after removal"
    [ -e "$(choice_dir)/Drivers/US3000.txt" ] && fail "the drivers are still there after removal"
    return 0
}

case_choice_single_converter_is_chosen_and_its_drivers_installed() {
    clear_drivers
    qr_install install-single "$DEMO" CONVERTER_LIST=3000 DEFAULT_CONVERTER=81
    expect_eq "msiexec /qr install" 0 "$RC"
    expect_eq "AppendComboBox" 1 "$(action_result "$LOG" AppendComboBox)"
    expect_eq "CONVERTER_LIST_COUNT" 1 "$(logged_property "$LOG" CONVERTER_LIST_COUNT)"
    expect_eq "DEFAULT_CONVERTER" 3000 "$(logged_property "$LOG" DEFAULT_CONVERTER)"
    expect_eq "drivers installed" "US3000.txt" "$(ls "$(choice_dir)/Drivers" 2>&1)"
    # The dialogs' choice replaced the converter that the costing saw: the
    # drivers are AppendComboBox's request, which Wine registers as absent
    # (README, "What Wine does differently").
    clear_drivers
}

case_choice_without_ui_sequence_takes_the_config_from_the_command_line() {
    install install-qn "$DEMO" $CHOICES DEFAULT_HARBOR_CONFIG=coastal.ini
    expect_eq "msiexec /qn install" 0 "$RC"
    expect_eq "AppendComboBox" "not run" "$(action_result "$LOG" AppendComboBox)"
    expect_eq "SetConfigureHarbor data" "C:\\Program Files*\\Vantor Technology\\Vantor Demo\\Harbor\\coastal.ini" \
        "$(logged_property "$LOG" ConfigureHarbor | sed 's/Program Files[^\\]*/Program Files*/')"
    local harbor
    harbor=$(choice_dir)/Harbor
    expect_eq "tessel.ini" "$(cat "$harbor/coastal.ini")" "$(cat "$harbor/tessel.ini" 2>&1)"
}

case_upgrade_2_0_lists_the_table_codes_then_1_0_and_replaces_it() {
    install install-1.0 "$DEMO" $CHOICES
    expect_eq "msiexec install 1.0" 0 "$RC"
    expect_eq "1.0 before" registered "$(product_state "$DEMO_CODE")"
    install install-2.0 "$DEMO2" $CHOICES
    expect_eq "msiexec install 2.0" 0 "$RC"
    expect_eq "FindRelatedProducts" 1 "$(action_result "$LOG" FindRelatedProducts)"
    expect_eq "FrobMajorUpgrade" 1 "$(action_result "$LOG" FrobMajorUpgrade)"
    expect_eq "ACTIONPROPERTY" "$DEMO_TABLE_CODES$DEMO_CODE;" "$(logged_property "$LOG" ACTIONPROPERTY)"
    expect_eq "VANTORDEMO_OLDER" "$DEMO_CODE" "$(logged_property "$LOG" VANTORDEMO_OLDER)"
    expect_eq "RemoveExistingProducts" 1 "$(action_result "$LOG" RemoveExistingProducts)"
    # Removed through the single-code detection row: Wine gives the list
    # whole to one nested msiexec, which removes nothing.
    expect_eq "1.0 after" absent "$(product_state "$DEMO_CODE")"
    expect_eq "2.0 after" registered "$(product_state "$DEMO2_CODE")"
    [ -f "$(installed_file "$ARCH" "Vantor Demo")" ] || fail "2.0's file is not installed"
    uninstall uninstall-2.0 "$DEMO2"
    expect_eq "msiexec uninstall 2.0" 0 "$RC"
    expect_eq "2.0 after removal" absent "$(product_state "$DEMO2_CODE")"
}

case_upgrade_1_0_alone_lists_only_the_table_codes() {
    install install "$DEMO" $CHOICES
    expect_eq "msiexec install" 0 "$RC"
    expect_eq "FrobMajorUpgrade" 1 "$(action_result "$LOG" FrobMajorUpgrade)"
    expect_eq "ACTIONPROPERTY" "$DEMO_TABLE_CODES" "$(logged_property "$LOG" ACTIONPROPERTY)"
    uninstall uninstall "$DEMO"
    expect_eq "FrobMajorUpgrade on removal" "not run" "$(action_result "$LOG" FrobMajorUpgrade)"
}
