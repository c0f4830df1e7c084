# Application patching in the demo (sourced by demo.sh): the record of each of
# the nine applications as shipped, after the installation and after the
# repair, read by patchinfo from the files in the prefix, and what each
# application prints when run.

DEMO_APPS=(rondo32.exe RONDOdemo.exe fathom.exe quill.exe larch32.exe TERN32.exe
           "Solvane CMS.exe" "Corvid Vigilo.exe" sable32.exe)
BEFORE_REPORT+=(report_patch_shipped)
INSTALL_REPORT+=(report_patch_installed report_patch_run)
REPAIR_REPORT+=(report_patch_installed report_patch_run)

demo_apps_dir() { dirname "$(installed_file "$ARCH" "Vantor Demo")"; }

# patch_records FOLDER: "name  offset N: fields" for each application there,
# through the host build of patchinfo, or the delivered one under Wine.
patch_records() {
    local app out
    for app in "${DEMO_APPS[@]}"; do
        if [ -x "$ROOT/build/host/tools/patchinfo" ]; then
            out=$("$ROOT/build/host/tools/patchinfo" show "$1/$app" 2>&1)
        else
            out=$(wine_capture "$ROOT/dist/$ARCH/patchinfo.exe" show "$(winpath "$1/$app")")
        fi
        out=$(grep -m1 -E 'offset|record|cannot' <<<"$out" | sed 's/^ *//')
        printf '%-18s %s\n' "$app" "${out:-(no answer)}"
    done
}

report_patch_shipped() {
    section "application records as shipped (patchinfo show build/$ARCH/fixtures/*)"
    while IFS= read -r line; do item "$line"; done < <(patch_records "$ROOT/build/$ARCH/fixtures")
}

report_patch_installed() {
    section "application records in the installed files (patchinfo show)"
    if [ ! -d "$(demo_apps_dir)" ]; then
        item "(not installed)"
        return
    fi
    while IFS= read -r line; do item "$line"; done < <(patch_records "$(demo_apps_dir)")
}

# All nine run by one cmd: a Wine start per program would cost seconds on x86.
report_patch_run() {
    local script=$LOGS/run-apps.cmd app
    section "what each installed application prints (run under Wine)"
    {
        printf '@echo off\r\ncd /d "%s"\r\n' "$(winpath "$(demo_apps_dir)")"
        for app in "${DEMO_APPS[@]}"; do printf 'echo == %s\r\n"%s"\r\n' "$app" "$app"; done
    } >"$script"
    while IFS= read -r line; do item "$line"; done < <(
        wine_capture cmd /c "$(winpath "$script")" |
            awk '/^== / { name = substr($0, 4); next } { printf "%-18s %s\n", name, $0 }')
}
