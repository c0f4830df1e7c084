#!/usr/bin/env bash
# The front door itself: ./run, copied into a scratch tree with stand-in host
# test programs and tiers, must name what failed, print the summary with the
# counts and exit 1; refuse bad arguments with exit 2; and stay quiet when all
# is well. And a fresh machine: every program the scripts call is one that
# ./run setup installs or every Debian system has.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/e2e/lib/check.sh"

SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT

# A stand-in host_tests: "pass" (3 tests), "fail" (3 tests, one failing) or
# "crash" (no report at all).
host_program() { # kind
    printf '#!/bin/sh\nxml=${1#--gtest_output=xml:}\n'
    case $1 in
        pass) printf 'echo "<testsuites tests=\\"3\\" failures=\\"0\\" disabled=\\"0\\" errors=\\"0\\">" >"$xml"\n' ;;
        fail) printf 'echo "[  FAILED  ] PatchFile.RecordAtPieceEdge"\n'
              printf 'echo "<testsuites tests=\\"3\\" failures=\\"1\\" disabled=\\"0\\" errors=\\"0\\">" >"$xml"\nexit 1\n' ;;
        crash) printf 'echo "stand-in host tests crashed"\nexit 139\n' ;;
    esac
}

# A stand-in tier: "pass", "fail" (a failed check and its summary, exit 1) or
# "bare" (dies before its summary).
tier_program() { # name kind
    case $2 in
        pass) printf 'echo "%s: 2 passed, 0 failed"\n' "$1" ;;
        fail) printf 'echo "FAIL case_german: country: expected 49, got 44"\necho "%s: 1 passed, 1 failed"\nexit 1\n' "$1" ;;
        bare) printf 'echo "wine: cannot start"\nexit 3\n' ;;
    esac
}

# tree HOST TIER_A: a scratch copy of ./run with build/host, build/asan and
# two tiers, a then b (b always passes).
tree() {
    local dir
    dir=$(mktemp -d "$SCRATCH/tree.XXXX")
    cp "$ROOT/run" "$dir/run"
    mkdir -p "$dir/build/host/tests" "$dir/build/asan/tests" "$dir/e2e"
    host_program "$1" >"$dir/build/host/tests/host_tests"
    host_program pass >"$dir/build/asan/tests/host_tests"
    chmod +x "$dir/build/host/tests/host_tests" "$dir/build/asan/tests/host_tests"
    tier_program a "$2" >"$dir/e2e/tier-a.sh"
    tier_program b pass >"$dir/e2e/tier-b.sh"
    echo "$dir"
}

# name | host | tier a | ./run arguments | exit | lines the output must have (";"-separated regexes)
CASES="\
all pass, only the summary|pass|pass|test --no-build|0|^== summary$;^host: 3 passed, 0 failed$;^sanitizers: 3 passed, 0 failed$;^a: 2 passed, 0 failed$;^10 passed, 0 failed$
failing tier named, later tiers run|pass|fail|test --no-build|1|^FAIL case_german: country: expected 49;^a: 1 passed, 1 failed$;^b: 2 passed, 0 failed$;^9 passed, 1 failed$
tier dying without a summary|pass|bare|test --no-build|1|wine: cannot start;^tier-a: 0 passed, 1 failed;^8 passed, 1 failed$
failing host run counted, not fatal|fail|pass|test --no-build|1|^\[  FAILED  \] PatchFile.RecordAtPieceEdge;^host: 2 passed, 1 failed$;^b: 2 passed, 0 failed$;^9 passed, 1 failed$
host run with no report|crash|pass|test --no-build|1|stand-in host tests crashed;^host: 0 passed, 1 failed$;^7 passed, 1 failed$
fuzz seconds not a number|pass|pass|fuzz abc|2|^run: fuzz: SECONDS must be a whole number.*'abc'
unknown command|pass|pass|tset|2|^run: unknown command 'tset'"

# run_row: one row of CASES, in ROW.
run_row() {
    local name host tier_a args want patterns dir out rc pattern
    IFS='|' read -r name host tier_a args want patterns <<<"$ROW"
    dir=$(tree "$host" "$tier_a")
    # shellcheck disable=SC2086 # the arguments are words
    out=$(cd "$dir" && timeout 60 ./run $args 2>&1 </dev/null)
    rc=$?
    expect_eq "$name: exit" "$want" "$rc"
    IFS=';' read -ra pattern <<<"$patterns"
    for pattern in "${pattern[@]}"; do
        expect_in "$name: output" "$pattern" "$out"
    done
    # Quiet when all is well: the summary and nothing else.
    [ "$want" != 0 ] || expect_eq "$name: line count" 6 "$(wc -l <<<"$out")"
    [ "$CASE_FAILED" = 0 ] || printf '%s\n' "$out" | sed 's/^/  | /'
}

while IFS= read -r ROW; do
    run_case run_row
done <<<"$CASES"

# ---- a fresh machine: every program that ./run, the CMake files, the tiers,
# the scripts they run and the README's walkthrough call by name is in
# ./run's PROGRAMS table, under a package that its PACKAGES installs, or
# comes with every Debian system (an essential package, or one of priority
# "required"), as this machine's package database knows them.
PROGRAMS=$ROOT/e2e/lib/programs.py

# OWNER[program]: the installed package that holds the program in a system
# folder (through alternatives, and /bin or /usr/bin alike), empty when none
# does. owners PROGRAM... looks up those not known yet, in one query of the
# package database.
declare -A OWNER=()
owners() {
    local program dir path line paths=()
    local -A by_path=()
    for program in "$@"; do
        [ -n "${OWNER[$program]+known}" ] && continue
        for dir in /usr/bin /bin /usr/sbin /sbin; do
            [ -e "$dir/$program" ] && paths+=("$dir/$program" "$(readlink -f "$dir/$program")")
        done
    done
    # "package[, package...]: path" for each path the database knows.
    if [ ${#paths[@]} -gt 0 ]; then
        while IFS= read -r line; do
            [[ $line == diversion* ]] || by_path[${line#*: }]=${line%%[:,]*}
        done < <(dpkg-query -S "${paths[@]}" 2>/dev/null)
    fi
    for program in "$@"; do
        [ -n "${OWNER[$program]+known}" ] && continue
        OWNER[$program]=
        for dir in /usr/bin /bin /usr/sbin /sbin; do
            [ -e "$dir/$program" ] || continue
            for path in "$dir/$program" "$(readlink -f "$dir/$program")"; do
                if [ -n "${by_path[$path]:-}" ]; then
                    OWNER[$program]=${by_path[$path]}
                    continue 3
                fi
            done
        done
    done
}

# brings PACKAGE HOLDER: HOLDER is PACKAGE or installed with it (a dependency,
# or one of those, as the g++ of MinGW brings its compilers).
brings() {
    local frontier=$1 level
    for level in 0 1 2; do
        grep -qxF -- "$2" <<<"$frontier" && return 0
        # shellcheck disable=SC2086 # one argument per package
        frontier=$(dpkg-query -W -f='${Depends}, ${Pre-Depends}\n' $frontier 2>/dev/null |
            tr ',|' '\n\n' | sed 's/(.*//; s/:any//; s/[[:space:]]//g' | grep . | sort -u)
    done
    return 1
}

base_system() { dpkg-query -W -f='${Essential} ${Priority}\n' "$1" 2>/dev/null | grep -Eq '^yes |required$'; }

# fresh_machine_problems TREE: one line per program that TREE's scripts call
# and neither TREE/run's PROGRAMS table nor the base system installs, or that
# the table lists under a package that PACKAGES does not install or that does
# not bring it here; each names the program and where it is called.
fresh_machine_problems() {
    local table installed program where package holder
    local -A verdict=()
    # PROGRAMS as "package program..." a line; PACKAGES a package a line.
    table=$(awk '/^PROGRAMS=\($/ { on = 1; next } on && /^\)$/ { exit }
                 on { sub(/#.*/, ""); gsub(/"/, ""); sub(/:/, ""); if (NF) print }' "$1/run")
    installed=$(awk '/^PACKAGES=\($/ { on = 1; next } on && /^\)$/ { exit }
                     on { sub(/#.*/, ""); for (i = 1; i <= NF; i++) print $i }' "$1/run")
    [ -n "$table" ] || { echo "$1/run has no PROGRAMS table"; return; }
    [ -n "$installed" ] || { echo "$1/run has no PACKAGES table"; return; }
    python3 "$PROGRAMS" "$1" >"$SCRATCH/calls.txt" 2>&1 || { echo "programs.py: $(cat "$SCRATCH/calls.txt")"; return; }
    # shellcheck disable=SC2046 # one argument per program
    owners $(cut -f1 "$SCRATCH/calls.txt" | sort -u)
    for program in $(cut -f1 "$SCRATCH/calls.txt" | sort -u); do
        package=$(awk -v p="$program" '{ for (i = 2; i <= NF; i++) if ($i == p) { print $1; exit } }' <<<"$table")
        holder=${OWNER[$program]}
        verdict[$program]=
        if [ -n "$package" ] && ! grep -qxF -- "$package" <<<"$installed"; then
            verdict[$program]="listed under $package in ./run's PROGRAMS, but PACKAGES does not install $package"
        elif [ -n "$package" ]; then
            [ -z "$holder" ] || brings "$package" "$holder" ||
                verdict[$program]="listed under $package in ./run's PROGRAMS, but $holder holds it"
        elif [ "$program" = sudo ]; then
            : # ./run's way to root for a user who is not root: it cannot install that itself
        elif [ -z "$holder" ]; then
            verdict[$program]="not in ./run's PROGRAMS, and no package of this machine holds it"
        elif ! base_system "$holder"; then
            verdict[$program]="not in ./run's PROGRAMS, and $holder is not part of every Debian system"
        fi
    done
    while IFS=$'\t' read -r program where; do
        [ -z "${verdict[$program]}" ] || echo "$program ($where): ${verdict[$program]}"
    done <"$SCRATCH/calls.txt"
}

# The scanner on snippets whose calls are known: a line "== name | the
# programs it calls, sorted", then the snippet's lines.
scan_row() {
    local file=$SCRATCH/snippet.sh got
    printf '%s\n' "$SNIPPET" >"$file"
    got=$(python3 "$PROGRAMS" --shell "$file" | cut -f1 | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
    expect_eq "$SCAN_NAME: programs called" "$SCAN_WANT" "$got"
}
SCAN_NAME=
while IFS= read -r line; do
    if [[ $line == "== "* ]]; then
        [ -z "$SCAN_NAME" ] || run_case scan_row
        IFS='|' read -r SCAN_NAME SCAN_WANT <<<"${line#== }"
        SCAN_NAME=${SCAN_NAME% } SCAN_WANT=${SCAN_WANT# }
        SNIPPET=
    else
        SNIPPET+=$line$'\n'
    fi
done <<'SNIPPETS'
== an assignment, then the program | ccache
CCACHE_DISABLE=1 ccache gcc -c x.c
== settings that name a program to run | ccache clang clang++ cmake
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
CC=clang CXX="clang++" cmake -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER="$LAUNCHER" ..
== command substitution and a pipe | grep msiinfo
out=$(msiinfo tables "$m" | grep -c .)
== comments and quoted words are no calls |
# ccache builds faster
echo "ccache" 'wixl' # unzip
== a function of the script is no program | wixl
helper() { wixl "$@"; }
helper -a x64
== runners before the program, command -v | apt-get env nice osslsigncode timeout
as_root() { "$@"; }
timeout 60 nice -n 5 osslsigncode sign -in a
command -v ccache >/dev/null || as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y ccache
== case patterns and array words are no calls | unzip
PACKAGES=(ccache "wixl" # a comment with a ( and a '
          msitools)
case $1 in
    ccache | wixl) unzip -q a.zip ;;
    *) : ;;
esac
== paths and expansions are not looked up |
"$WINE" reg query x
/usr/bin/qemu-i386 --version
./run test
== here-documents, [[ ]] and (( )) | cat seq sha256sum
cat <<'EOF'
ccache
EOF
[[ $a =~ (x|y) ]] && sha256sum f
for ((i = 0; i < ${#x}; i++)); do seq 1 "$i"; done
== process substitution and redirections | diff git sort
diff <(sort a) "$b" 2>&1 >/dev/null
while read -r line; do :; done < <(git log) 9>lock
== words after for, a continued line | x86_64-w64-mingw32-strip
for p in wixl msiinfo; do "$p" --version; done
SOURCE_DATE_EPOCH=1 \
    x86_64-w64-mingw32-strip -o a b
SNIPPETS
run_case scan_row

# The check on scratch trees: ./run with its table changed, and one tier.
# name | the tier's line | sed on ./run | a problem it must report (none: nothing)
FRESH_CASES="\
a program of the table|wixl -a x64 x.wxs && git log||
a compiler cache the setup does not install|CCACHE_DISABLE=1 ccache gcc -c x.c||^ccache \(e2e/tier-x\.sh:1\): not in \./run's PROGRAMS
a compiler launcher the setup does not install|export CMAKE_CXX_COMPILER_LAUNCHER=\${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}||^ccache \(e2e/tier-x\.sh:1\): not in \./run's PROGRAMS
a program whose package is not in the table|pgrep -f wine|/\"procps: /d; s/ procps / /|^pgrep \(e2e/tier-x\.sh:1\): not in \./run's PROGRAMS, and procps is not part of every Debian system$
a program whose package the setup does not install|pgrep -f wine|s/ procps / /|^pgrep \(e2e/tier-x\.sh:1\): listed under procps in \./run's PROGRAMS, but PACKAGES does not install procps$
a program listed under another package|msiinfo tables x.msi|s/\"msitools: msiinfo msibuild\"/\"msitools: msibuild\"/; s/\"wixl: wixl\"/\"wixl: wixl msiinfo\"/|^msiinfo \(e2e/tier-x\.sh:1\): listed under wixl in \./run's PROGRAMS, but msitools holds it$"
fresh_row() {
    local name tier edit want dir problems
    IFS='|' read -r name tier edit want <<<"$ROW"
    dir=$(mktemp -d "$SCRATCH/fresh.XXXX")
    mkdir -p "$dir/e2e"
    sed -e "${edit:-p;d}" "$ROOT/run" >"$dir/run"
    printf '%s\n' "$tier" >"$dir/e2e/tier-x.sh"
    problems=$(fresh_machine_problems "$dir")
    if [ -z "$want" ]; then
        expect_eq "$name: problems" "" "$problems"
    else
        expect_in "$name: problems" "$want" "$problems"
        expect_eq "$name: problem count" 1 "$(grep -c . <<<"$problems")"
    fi
}
while IFS= read -r ROW; do
    run_case fresh_row
done <<<"$FRESH_CASES"

# And the tree itself.
repository_row() {
    local problems
    problems=$(fresh_machine_problems "$ROOT")
    [ -z "$problems" ] || fail "programs that ./run setup does not install:"$'\n'"$problems"
    # The scan found the calls it must find: a scan that finds none passes nothing.
    expect_in "calls found" $'^wixl\t' "$(cat "$SCRATCH/calls.txt")"
    expect_in "calls found" $'^pgrep\te2e/lib/wine\\.sh:' "$(cat "$SCRATCH/calls.txt")"
}
run_case repository_row
summary run
[ "$CASES_FAILED" = 0 ]
