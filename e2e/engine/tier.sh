# The engine tier for one bitness: engine_tests.exe under Wine, against the
# delivered DLLs in dist/<arch> and the demo package. Usage: tier.sh x64|x86
set -uo pipefail
ARCH=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/check.sh"

TIER="engine $ARCH"
EXE=$ROOT/build/$ARCH/e2e/engine/engine_tests.exe
LOG=$WINE_DIR/engine-$ARCH.log

# The number of tests, for the summary of a run that cannot happen.
declared_tests() { cat "$ROOT"/e2e/engine/*_test.cpp | grep -cE '^TEST(_F|_P)?\('; }

skip_all() { # reason
    CASES_SKIPPED=$(declared_tests)
    summary "$TIER" "$1"
    exit 0
}

reason=$(wine_usable) || give_up "$TIER" "$reason"
[ -f "$EXE" ] || give_up "$TIER" "missing $EXE (run ./run build)"
if [ "$ARCH" = x86 ] && ! wine32_loader_runs; then skip_all "this machine cannot execute 32-bit code"; fi
wine_prefix "engine-$ARCH" || give_up "$TIER" "cannot make a Wine prefix"
trap wine_stop EXIT
reason=$(can_run_bitness "$ARCH")
case $? in
    0) ;;
    1) skip_all "$reason" ;;
    *) give_up "$TIER" "$reason" ;;
esac

XML=$WINE_DIR/engine-$ARCH.xml
rm -f "$XML"
VANTOR_DIST=$(winpath "$ROOT/dist/$ARCH") VANTOR_PACKAGE=$(winpath "$ROOT/build/$ARCH/e2e/demo.msi") \
    wine_capture "$EXE" --gtest_brief=1 --gtest_output="xml:$(winpath "$XML")" >"$LOG"

# The counts come from the XML report: the brief console output has no
# count of failed tests.
totals=$(grep -m1 '<testsuites ' "$XML" 2>/dev/null)
attribute() {
    local value
    value=$(sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$totals")
    echo "${value:-0}"
}
if [ -z "$totals" ]; then
    echo "engine_tests.exe ($ARCH) stopped before its report:"
    tail -20 "$LOG"
    CASES_FAILED=1
else
    CASES_FAILED=$(($(attribute failures) + $(attribute errors)))
    CASES_SKIPPED=$(($(attribute skipped) + $(attribute disabled)))
    CASES_PASSED=$(($(attribute tests) - CASES_FAILED - CASES_SKIPPED))
    if [ "$CASES_FAILED" != 0 ]; then
        grep -vE '^(Running main|\[==========\]|\[  PASSED  \])' "$LOG"
        echo "(full output: $LOG)"
    fi
fi
summary "$TIER"
[ "$CASES_FAILED" = 0 ]
