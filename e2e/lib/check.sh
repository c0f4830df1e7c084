# Counting and reporting for the e2e tiers (sourced, not run).
#
# A tier is a list of cases; each case is a shell function that makes checks.
# A case passes when none of its checks fail. Silent while all is well; each
# failed check prints what was expected and what was found.

CASES_PASSED=0
CASES_FAILED=0
CASES_SKIPPED=0
CASE_FAILED=0
CASE_NAME=

fail() { # message...
    CASE_FAILED=1
    printf 'FAIL %s: %s\n' "$CASE_NAME" "$*"
}

expect_eq() { # what expected actual
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

# expect_in what pattern text: the text has a line matching the extended regex.
expect_in() {
    grep -Eq -- "$2" <<<"$3" || fail "$1: no line matches /$2/"
}

expect_not_in() {
    ! grep -Eq -- "$2" <<<"$3" || fail "$1: unexpected line matching /$2/: $(grep -E -m1 -- "$2" <<<"$3")"
}

# run_case FUNCTION: runs one case and counts it.
run_case() {
    CASE_NAME=$1
    CASE_FAILED=0
    "$1"
    if [ "$CASE_FAILED" = 0 ]; then
        CASES_PASSED=$((CASES_PASSED + 1))
    else
        CASES_FAILED=$((CASES_FAILED + 1))
    fi
}

# summary TIER [REASON]: the tier's last line, "<tier>: N passed, N failed[, N skipped]".
summary() {
    local line="$1: $CASES_PASSED passed, $CASES_FAILED failed"
    [ "$CASES_SKIPPED" = 0 ] || line+=", $CASES_SKIPPED skipped${2:+ ($2)}"
    echo "$line"
}

# give_up TIER MESSAGE: the tier cannot run its cases; counts as one failure.
give_up() {
    echo "$2"
    CASES_FAILED=$((CASES_FAILED + 1))
    summary "$1"
    exit 1
}
