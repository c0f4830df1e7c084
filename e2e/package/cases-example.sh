# The README's walkthrough, "Authoring a package" (sourced by tier.sh), as an
# author meets it: the release archive, made from the built trees by
# tools/dist/make-dist.py, unpacked with unzip into an empty folder; there the
# example product built, finished, checked, installed, repaired and removed
# with the very commands of the archive's own README between its
# "walkthrough" markers, with ARCH and VANTOR set as the README tells the
# author, and "wine" the tiers' Wine loader in the tier's prefix.

EXAMPLE_CODE='{7C2E4F83-9E5D-4B6D-8F40-3D8C9EAF0B01}'
EXAMPLE_PATCHED='converter 81, port 0, country 49, serial "EX1234", version 1000'
# The author's folder: the unpacked archive and the author's files, nothing else.
EXAMPLE_WORK=$WINE_DIR/example-$ARCH
EXAMPLE_VANTOR=vantor-installer-extensions-$(head -1 "$ROOT/VERSION")
EXAMPLE_MSI=$EXAMPLE_WORK/example-$ARCH.msi
EXAMPLE_BUILT=no

example_dir() {
    local programs="Program Files"
    [ "$ARCH" = x86 ] && programs="Program Files (x86)"
    echo "$WINEPREFIX/drive_c/$programs/Example Logger Suite"
}

# walkthrough STEP: the commands of that step in the archive's README.
walkthrough() {
    awk -v start="<!-- walkthrough: $1 -->" '
        $0 == start { on = 1; next }
        /^<!-- walkthrough end -->/ { on = 0 }
        on && !/^```/' "$EXAMPLE_WORK/$EXAMPLE_VANTOR/README.md"
}

# example_step STEP: runs the README's commands of STEP in the author's
# folder (stopping at the first that fails); sets STEP_RC (their status), OUT
# (their output), and for the msiexec steps RC (msiexec's code as the command
# prints it) and LOG.
example_step() {
    local script out=$LOGS/example-$1.out
    script=$(walkthrough "$1")
    [ -n "$script" ] || { fail "the archive's README has no walkthrough step '$1'"; STEP_RC=1; return 1; }
    (
        cd "$EXAMPLE_WORK" || exit 1
        VANTOR=$EXAMPLE_VANTOR
        wine() { "$WINE" "$@" </dev/null; }
        set -e
        eval "$script"
    ) >"$out" 2>&1
    STEP_RC=$?
    OUT=$(tr -d '\r' <"$out")
    RC=$(sed -n 's/^rc=\([0-9-]*\)$/\1/p' <<<"$OUT" | tail -1)
    LOG=$EXAMPLE_WORK/example-$1.log
}

# The files of the author's folder, one a line.
example_folder() { (cd "$EXAMPLE_WORK" && ls -A | LC_ALL=C sort); }

# The archive made and unpacked, the author's files copied out of it, and
# the package built: once per run of the tier.
example_build() {
    [ "$EXAMPLE_BUILT" = yes ] && return 0
    local dist=$EXAMPLE_WORK.dist
    rm -rf "$EXAMPLE_WORK" "$dist"
    mkdir -p "$EXAMPLE_WORK" "$dist"
    if ! python3 "$ROOT/tools/dist/make-dist.py" --x86 "$ROOT/build/x86" --x64 "$ROOT/build/x64" \
        --linux "$ROOT/build/host" --out "$dist" >"$LOGS/example-dist.out" 2>&1; then
        fail "setup: the release archive: $(cat "$LOGS/example-dist.out")"
        return 1
    fi
    (cd "$EXAMPLE_WORK" && unzip -q "$dist/$EXAMPLE_VANTOR.zip") || { fail "setup: unzip failed"; return 1; }
    expect_eq "the author's folder, unpacked" "$EXAMPLE_VANTOR" "$(example_folder)"

    example_step start
    expect_eq "start step's exit status" 0 "$STEP_RC"
    example_step build
    expect_eq "build step's exit status" 0 "$STEP_RC"
    [ "$STEP_RC" = 0 ] && [ -f "$EXAMPLE_MSI" ] || { fail "no package: $OUT"; return 1; }
    # Nothing but the archive, the author's two files and the package.
    expect_eq "the author's folder, built" \
        "$(printf '%s\n' example-$ARCH.msi example.wxs rondo32.exe.config "$EXAMPLE_VANTOR" | LC_ALL=C sort)" \
        "$(example_folder)"
    EXAMPLE_BUILT=yes
    EXAMPLE_BUILD_OUT=$OUT
}

example_app() { wine_capture "$(winpath "$(example_dir)/rondo32.exe")"; }
example_config() { sed -n 's/.*key="Language" value="\([^"]*\)".*/\1/p' "$(example_dir)/rondo32.exe.config" 2>/dev/null; }

# --fix makes only the fixes that the example calls for, the checker finds
# nothing, a second --fix changes no byte, and nothing of a concern the
# example leaves out is in it.
case_example_builds_finishes_and_checks_clean() {
    example_build || return
    expect_eq "--fix and the checker" \
        "fix: CustomAction 'CachePropertiesRollback': type 2049 -> 3329 (rollback)
fix: Property 'SecureCustomProperties': 'DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;INSTALLDIR' (new row)
vantor-wirecheck: example-$ARCH.msi: 2 fixes made
vantor-wirecheck: example-$ARCH.msi: 0 faults" "$EXAMPLE_BUILD_OUT"
    local again=$LOGS/example-again.msi
    cp "$EXAMPLE_MSI" "$again"
    "$EXAMPLE_WORK/$EXAMPLE_VANTOR/linux/vantor-wirecheck" --fix "$again" >"$LOGS/example-again.out" 2>&1
    expect_eq "second --fix" "vantor-wirecheck: $again: nothing to fix" "$(cat "$LOGS/example-again.out")"
    cmp -s "$EXAMPLE_MSI" "$again" || fail "a second --fix changed the example's package"
    local actions table
    expect_not_in "tables" '^ComboBox$' "$(msiinfo tables "$EXAMPLE_MSI")"
    for table in ServiceInstall Upgrade RemoveFile; do
        expect_eq "rows of $table" 0 "$(msiinfo export "$EXAMPLE_MSI" $table | tail -n +4 | grep -c .)"
    done
    actions=$(msiinfo export "$EXAMPLE_MSI" CustomAction | cut -f1)
    expect_not_in "actions" '^(AppendComboBox|PopulateHarborChoices|ConfigureHarbor|StartVantorAutoLauchService|FrobMajorUpgrade|DIFxInstall|InstallKappaSys|FathomApplyPatchInfo|SableApplyPatchInfo)$' \
        "$actions"
    expect_in "actions" '^RondoApplyPatchInfo$' "$actions"
    expect_not_in "binaries" 'VantorDrivers' "$(msiinfo streams "$EXAMPLE_MSI")"
    expect_in "binaries" '^Binary\.VantorSetup$' "$(msiinfo streams "$EXAMPLE_MSI")"
}

case_example_installs_repairs_and_uninstalls() {
    example_build || return
    local package
    package=$(winpath "$EXAMPLE_MSI")

    example_step install
    expect_eq "install step's exit status" 0 "$STEP_RC"
    expect_eq "msiexec install" 0 "$RC"
    expect_eq "RondoApplyPatchInfo" 1 "$(action_result "$LOG" RondoApplyPatchInfo)"
    expect_eq "SetConfigLanguage" 1 "$(action_result "$LOG" SetConfigLanguage)"
    expect_eq "application after install" "$EXAMPLE_PATCHED" "$(example_app)"
    expect_eq "language after install" de-DE "$(example_config)"
    expect_eq "cache after install" \
        $'DEFAULT_COM_PORT=\nDEFAULT_CONVERTER=81\nDEFAULT_HARBOR_CONFIG=\nDEFAULT_PAR_PORT=\nINSTALLDIR='"$(program_folder "$ARCH" 'Example Logger Suite')"$'\nSERIAL_NUMBER=EX1234' \
        "$(cache_of "$ARCH" "$EXAMPLE_CODE")"

    # The application as shipped again: the repair must patch it again,
    # with the cached choices.
    cp "$EXAMPLE_WORK/$EXAMPLE_VANTOR/sample-application/$ARCH/rondo32.exe" "$(example_dir)/rondo32.exe" ||
        fail "setup: unpatch"
    example_step repair
    expect_eq "repair step's exit status" 0 "$STEP_RC"
    expect_eq "msiexec repair" 0 "$RC"
    expect_eq "CacheProperties on repair" "not run" "$(action_result "$LOG" CacheProperties)"
    expect_eq "RondoApplyPatchInfo on repair" 1 "$(action_result "$LOG" RondoApplyPatchInfo)"
    expect_eq "application after repair" "$EXAMPLE_PATCHED" "$(example_app)"
    expect_eq "language after repair" de-DE "$(example_config)"

    example_step uninstall
    expect_eq "uninstall step's exit status" 0 "$STEP_RC"
    expect_eq "msiexec uninstall" 0 "$RC"
    expect_eq "ClearPropertiesCache" 1 "$(action_result "$LOG" ClearPropertiesCache)"
    [ ! -e "$(example_dir)" ] || fail "left after uninstall: $(cd "$(example_dir)" && find . | tr '\n' ' ')"
    expect_eq "cache after uninstall" "(no key)" "$(cache_of "$ARCH" "$EXAMPLE_CODE")"
    key_exists "$ARCH" "$COMPANY_KEY" && fail "the company key is still there"
    expect_eq "product registration" absent "$(product_state "$EXAMPLE_CODE")"
}
