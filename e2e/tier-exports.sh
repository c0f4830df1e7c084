#!/usr/bin/env bash
# Proves from the built DLLs themselves what the engine relies on:
# - each DLL exports exactly the actions its header declares, by plain name,
#   and its .def file lists the same names;
# - each x86 export is a stdcall function of one argument: its code returns
#   with "ret $0x4" (Wine's engine would tolerate a cdecl export; Windows not);
# - the DLLs import system libraries only (static C++ runtime).
# Last line: "exports: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); printf 'exports: FAIL %s\n' "$*"; }

SYSTEM_DLLS='^(kernel32|user32|advapi32|msi|msvcrt|ntdll|shell32|ole32|oleaut32|rpcrt4|version|shlwapi|setupapi|newdev)\.dll$'

declared() { # header
    sed -n 's/^UINT WINAPI \([A-Za-z0-9_]*\)(MSIHANDLE.*/\1/p' "$1" | sort
}
in_def() { # def file
    sed -n '/^EXPORTS/,$p' "$1" | sed 's/;.*//' | awk 'NF && $1 != "EXPORTS" {print $1}' | sort
}
exported() { # dll arch
    "$2-w64-mingw32-objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
        | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort
}

for lib in setup:VantorSetup drivers:VantorDrivers; do
    dir=${lib%%:*}
    name=${lib##*:}
    want=$(declared "$dir/exports.h")
    if [ "$(in_def "$dir/$name.def")" = "$want" ]; then ok; else bad "$name.def differs from $dir/exports.h"; fi
    for arch in x86 x64; do
        tool=$([ $arch = x86 ] && echo i686 || echo x86_64)
        dll=dist/$arch/$name.dll
        [ -f "$dll" ] || { bad "$dll missing"; continue; }
        have=$(exported "$dll" $tool)
        if [ "$have" = "$want" ]; then ok; else
            bad "$dll exports [$(echo $have)] instead of [$(echo $want)]"
        fi
        imports=$("$tool-w64-mingw32-objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
        foreign=$(grep -viE "$SYSTEM_DLLS" <<<"$imports" || true)
        if [ -z "$foreign" ]; then ok; else bad "$dll imports non-system DLLs: $foreign"; fi
        if [ $arch = x86 ]; then
            base=$("$tool-w64-mingw32-objdump" -p "$dll" | awk '/^ImageBase/ {print $2}')
            # "[   0] +base[   1] 14b0 Export RVA" lines, in name order of the ordinal table.
            while read -r export rva; do
                start=$(printf '0x%x' $((0x$base + 0x$rva)))
                first_ret=$("$tool-w64-mingw32-objdump" -d --no-show-raw-insn --start-address="$start" \
                    --stop-address=$(printf '0x%x' $((start + 4096))) "$dll" | grep -m1 -E '\sret' || true)
                if grep -qE 'ret\s+\$0x4$' <<<"$first_ret"; then ok; else
                    bad "$dll: $export does not return as stdcall(4): ${first_ret:-no ret found}"
                fi
            done < <("$tool-w64-mingw32-objdump" -p "$dll" | awk '
                /^Export Address Table -- Ordinal Base/ {t=1; next}
                t && /Export RVA/ {gsub(/[\[\]]/, " "); rva[n++]=$(NF-2); next}
                /\[Ordinal\/Name Pointer\] Table/ {o=1; t=0; next}
                o && /^[ \t]*\[/ {line=$0; sub(/^[ \t]*\[ *[0-9]+\] /, "", line); split($0, a, /[\[\]]/); \
                    print line, rva[a[2]+0]; next}
                o && /^$/ {o=0}')
        fi
    done
done
printf 'exports: %d passed, %d failed\n' "$passed" "$failed"
[ "$failed" = 0 ]
