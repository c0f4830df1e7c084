#!/usr/bin/env bash
# The support tools as their users meet them:
# - patchinfo's command line (host build): a table of argument cases, each with
#   its exit status and a line its output must hold;
# - the same error texts from patchinfo.exe under Wine, and wildcard expansion
#   by the .exe itself (cmd.exe leaves that to the program);
# - the README's reference tables equal vantor-tables' output, and the check
#   catches a table that drifted.
# Last line: "tools: N passed, N failed[, N skipped]".
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

passed=0
failed=0
skipped=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); printf 'tools: FAIL %s\n' "$*"; }

PATCHINFO=$ROOT/build/host/tools/patchinfo
WORK=$ROOT/build/tier-tools
rm -rf "$WORK"
mkdir -p "$WORK/folder"

# A file holding one record at offset 4, and one holding none.
record() { printf 'head'; printf 'patch_info3\0'; head -c 22 /dev/zero; printf 'tail'; }
for f in a.bin b.bin -odd.bin; do record >"$WORK/$f"; done
printf 'no record in here' >"$WORK/none.bin"

STAMP='--converter 1 --port 2 --country 44 --serial SN0042 --version 6017'
# status | arguments (word-split) | a line of the output (grep -E)
CASES=(
    "0|--help|^usage: patchinfo show FILE"
    "0|-h|patchinfo \[COMMAND\] --help"
    "0|show --help|^usage: patchinfo show FILE"
    "0|show a.bin -h|^Lists every PatchInfo record"
    "0|stamp --help|^usage: patchinfo stamp FILE"
    "0|help stamp|^usage: patchinfo stamp FILE"
    "2||patchinfo: no command"
    "2|frob|unknown command frob"
    "2|show|show needs at least one file"
    "2|show --bogus a.bin|unknown option --bogus"
    "0|show a.bin|^  offset 4: converter 0, port 0, country 0, serial \"\", version 0$"
    "0|show -- -odd.bin|^-odd.bin:$"
    "1|show a.bin none.bin|^none.bin: no record$"
    "2|show missing.bin a.bin|^patchinfo: cannot open missing.bin: 2 \(The system cannot find the file specified\)$"
    "2|show missing.bin a.bin|^a.bin:$"
    "2|show nowhere/x.bin|^patchinfo: cannot open nowhere/x.bin: 3 \(The system cannot find the path specified\)$"
    "2|show folder|^patchinfo: cannot open folder: 5 \(Access is denied\)$"
    "2|stamp a.bin|stamp needs --converter"
    "2|stamp $STAMP|stamp needs at least one file"
    "2|stamp a.bin --converter 70000 --port 2 --country 44 --serial S --version 1|--converter takes a number from 0 to 65535"
    "2|stamp a.bin --converter 1 --port 2 --country 44 --serial 123456789 --version 1|--serial takes at most 8 characters"
    "2|stamp a.bin --port|--port needs a value"
    "2|stamp a.bin --colour 3|unknown option --colour"
    "2|stamp folder $STAMP|^patchinfo: cannot open folder: 5 \(Access is denied\)$"
    "1|stamp none.bin $STAMP|^none.bin: no record, nothing written$"
    "0|stamp a.bin $STAMP b.bin|^b.bin: record at offset 4 written: converter 1, port 2, country 44, serial \"SN0042\", version 6017$"
    "0|show b.bin|^  offset 4: converter 1, port 2, country 44, serial \"SN0042\", version 6017$"
    "1|stamp a.bin none.bin $STAMP|^a.bin: record at offset 4 written"
)

if [ -x "$PATCHINFO" ]; then
    for case in "${CASES[@]}"; do
        IFS='|' read -r want args expect <<<"$case"
        # shellcheck disable=SC2086 # the arguments are words on purpose
        out=$(cd "$WORK" && "$PATCHINFO" $args 2>&1)
        rc=$?
        if [ "$rc" = "$want" ] && grep -qE -- "$expect" <<<"$out"; then ok; else
            bad "patchinfo $args: status $rc (want $want), output without /$expect/:"$'\n'"$out"
        fi
    done
else
    bad "no $PATCHINFO (./run build)"
fi

# The README's tables, and a copy with one country code changed.
if tools/tables/readme-tables.sh >"$WORK/tables.log" 2>&1; then ok; else
    bad "README reference tables: $(cat "$WORK/tables.log")"
fi
sed 's/^| 1033 | en-US | 44 |$/| 1033 | en-US | 1 |/' README.md >"$WORK/README-drifted.md"
if cmp -s README.md "$WORK/README-drifted.md"; then
    bad "README has no row for LCID 1033 to change"
elif tools/tables/readme-tables.sh "$WORK/README-drifted.md" >/dev/null 2>&1; then
    bad "readme-tables.sh passed a README whose tables differ from the code"
else
    ok
fi

# patchinfo.exe under Wine (x64): wildcards and the same error texts.
# shellcheck source=lib/wine.sh
. e2e/lib/wine.sh
exe=$ROOT/build/x64/tools/patchinfo.exe
if ! reason=$(wine_usable); then
    skipped=$((skipped + 1))
    echo "tools: Wine checks skipped: $reason"
elif [ ! -f "$exe" ]; then
    bad "no $exe (./run build)"
else
    wine_prefix tools-x64
    fx=$WINEPREFIX/drive_c/fx
    mkdir -p "$fx/sub"
    record >"$fx/one.exe"
    record >"$fx/two.exe"
    record >"$fx/three.dat"
    out=$(wine_capture "$exe" show 'C:\fx\*.exe')
    rc=$?
    listed=$(grep -c '^C:\\fx\\[a-z]*\.exe:$' <<<"$out")
    if [ $rc = 0 ] && [ "$listed" = 2 ] && ! grep -q 'three.dat\|\*' <<<"$out"; then ok; else
        bad "patchinfo.exe show C:\\fx\\*.exe: status $rc, $listed files listed:"$'\n'"$out"
    fi
    while IFS='|' read -r args expect; do
        # shellcheck disable=SC2086
        out=$(wine_capture "$exe" $args)
        rc=$?
        if [ $rc = 2 ] && grep -qxF -- "$expect" <<<"$out"; then ok; else
            bad "patchinfo.exe $args: status $rc, wanted the line '$expect':"$'\n'"$out"
        fi
    done <<'EOF'
show C:\fx\sub|patchinfo: cannot open C:\fx\sub: 5 (Access is denied)
show C:\fx\missing.exe|patchinfo: cannot open C:\fx\missing.exe: 2 (The system cannot find the file specified)
show C:\nowhere\x.exe|patchinfo: cannot open C:\nowhere\x.exe: 3 (The system cannot find the path specified)
EOF
    wine_stop
fi

printf 'tools: %d passed, %d failed%s\n' "$passed" "$failed" "$([ $skipped != 0 ] && echo ", $skipped skipped")"
[ "$failed" = 0 ]
