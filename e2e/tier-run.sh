#!/usr/bin/env bash
# The front door itself: ./run, copied into a scratch tree with stand-in host
# test programs and tiers, must name what failed, print the summary with the
# counts and exit 1; refuse bad arguments with exit 2; and stay quiet when all
# is well.
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
summary run
[ "$CASES_FAILED" = 0 ]
