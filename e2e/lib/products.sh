# The demo products and what the package tier and the demo read back from an
# installation (sourced after wine.sh). The product codes are those that
# e2e/CMakeLists.txt builds into demo.msi and companion.msi.

DEMO_CODE='{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E01}'
COMPANION_CODE='{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E11}'
COMPANY_KEY='SOFTWARE\Vantor Technology'
# The demo's auto-launch service (the fixture service program) and its file.
AUTO_LAUNCH_SERVICE='Vantor Auto Launch Service'
AUTO_LAUNCH_IMAGE=VantorAutoLaunch.exe

package_path() { echo "$ROOT/build/$1/e2e/$2.msi"; } # arch name

# action_result LOG ACTION: the "Return value" the log gives for an action,
# or "not run".
action_result() {
    local value
    value=$(tr -d '\r' <"$1" 2>/dev/null |
        sed -n "s/^Action ended [^:]*:[0-9:]*: $2\. Return value \([0-9]*\)\..*/\1/p" | tail -1)
    echo "${value:-not run}"
}

# custom_action_results LOG: "Action=Result" for every action of the log that
# is not one of the engine's own (these have no table of their own: the
# package's CustomAction table names them).
custom_action_results() { # log msi
    local action
    for action in $(msiinfo export "$2" CustomAction 2>/dev/null | tail -n +4 | cut -f1); do
        echo "$action=$(action_result "$1" "$action")"
    done
}

# The "VantorCustomAction: ..." lines of a log.
action_log_lines() { tr -d '\r' <"$1" 2>/dev/null | grep -o 'VantorCustomAction: .*' || true; }

# cache_of ARCH CODE: the product's cached values as sorted NAME=VALUE lines,
# "(no key)" when the product has no key.
cache_of() {
    local out
    # reg.exe answers "not found" now and then on a busy machine: a key is
    # missing only when a second look agrees.
    if ! out=$(wine_capture reg query "HKLM\\$COMPANY_KEY\\$2" /reg:"$(reg_view "$1")") &&
        ! { sleep 1; out=$(wine_capture reg query "HKLM\\$COMPANY_KEY\\$2" /reg:"$(reg_view "$1")"); }; then
        echo "(no key)"
        return
    fi
    sed -n 's/^    \([^ ].*\)    REG_SZ    \(.*\)$/\1=\2/p' <<<"$out" | sort
}

# key_exists ARCH PATH (below HKLM), in the view of a process of that bitness.
key_exists() { "$WINE" reg query "HKLM\\$2" /reg:"$(reg_view "$1")" </dev/null >/dev/null 2>&1; }

# program_folder ARCH FOLDER: the Windows folder below the program files
# folder of that bitness that a product installs into ("\" between names),
# ending with "\": the install folder as the cache records it.
program_folder() {
    local programs="Program Files"
    [ "$1" = x86 ] && programs="Program Files (x86)"
    echo "C:\\$programs\\$2\\"
}

# installed_file ARCH NAME: the Unix path of the demo product's file in the prefix.
installed_file() {
    local programs="Program Files"
    [ "$1" = x86 ] && programs="Program Files (x86)"
    echo "$WINEPREFIX/drive_c/$programs/Vantor Technology/$2/readme.txt"
}
