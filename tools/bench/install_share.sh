#!/usr/bin/env bash
# The custom actions' share of an installation: the demo product installed by
# Wine's msiexec as built, and as a copy whose sequences name none of its
# custom actions (the same tables and files otherwise, the DLLs still in the
# Binary table), each the best of N installations in one prefix, removed
# again after each. A benchmark: it reports, it never fails.
# Usage: install_share.sh x64|x86 [N]
set -uo pipefail
ARCH=$1
ROUNDS=${2:-5}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/e2e/lib/wine.sh"
source "$ROOT/e2e/lib/products.sh"

CHOICES="DEFAULT_CONVERTER=3000 DEFAULT_COM_PORT=3 DEFAULT_PAR_PORT=1 SERIAL_NUMBER=AB123"
say() { printf '%s\n' "$*"; }
skip() { say "install share: not measured ($*)"; exit 0; }

reason=$(wine_usable) || skip "$reason"
DEMO_MSI=$(package_path "$ARCH" demo)
[ -f "$DEMO_MSI" ] || skip "no $DEMO_MSI (run ./run build)"

DIR=$WINE_DIR/bench-$ARCH-packages
rm -rf "$DIR" && mkdir -p "$DIR"
cp "$DEMO_MSI" "$DIR/with.msi"
cp "$DEMO_MSI" "$DIR/without.msi"
actions=$(msiinfo export "$DEMO_MSI" CustomAction | tail -n +4 | cut -f1)
[ -n "$actions" ] || skip "no custom actions found in $DEMO_MSI"
queries=()
for action in $actions; do
    for table in InstallExecuteSequence InstallUISequence; do
        queries+=(-q "DELETE FROM \`$table\` WHERE \`Action\` = '$action'")
    done
done
msibuild "$DIR/without.msi" "${queries[@]}" >/dev/null 2>&1 || skip "msibuild could not remove the actions"
left=$(for table in InstallExecuteSequence InstallUISequence; do
    msiinfo export "$DIR/without.msi" "$table" | tail -n +4 | cut -f1; done | grep -Fxf <(echo "$actions"))
[ -z "$left" ] || skip "actions still sequenced in the copy: $(echo $left)"

wine_prefix "bench-$ARCH" || skip "cannot make a Wine prefix"
trap wine_stop EXIT
LOGS=$WINE_DIR/bench-$ARCH-logs
rm -rf "$LOGS" && mkdir -p "$LOGS"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# install VARIANT: milliseconds of one installation (removed again
# afterwards), or fails.
install() {
    local package started ms rc
    package=$(winpath "$DIR/$1.msi")
    started=$(now_ms)
    rc=$(msiexec_rc "$LOGS/$1-install.log" /qn /i "$package" $CHOICES)
    ms=$(($(now_ms) - started))
    [ "$rc" = 0 ] || { say "install share: $1.msi install answered $rc (log: $LOGS/$1-install.log)"; return 1; }
    rc=$(msiexec_rc "$LOGS/$1-remove.log" /qn /x "$package")
    [ "$rc" = 0 ] || { say "install share: $1.msi removal answered $rc (log: $LOGS/$1-remove.log)"; return 1; }
    echo "$ms"
}

# One round of each first, not counted: the prefix's first msiexec runs
# set up what later ones reuse.
install with >/dev/null && install without >/dev/null || skip "the warm-up installation failed"
best_with='' best_without=''
for _ in $(seq "$ROUNDS"); do
    ms=$(install with) || skip "an installation failed"
    [ -z "$best_with" ] || [ "$ms" -lt "$best_with" ] && best_with=$ms
    ms=$(install without) || skip "an installation failed"
    [ -z "$best_without" ] || [ "$ms" -lt "$best_without" ] && best_without=$ms
done

seconds() { awk -v ms="$1" 'BEGIN { printf "%.2f s", ms / 1000 }'; }
say "== installation of the demo by Wine's msiexec ($ARCH), best of $ROUNDS"
say "with its custom actions        $(seconds "$best_with")"
say "without them                   $(seconds "$best_without")"
awk -v w="$best_with" -v o="$best_without" 'BEGIN {
    printf "ratio with/without             %.2f  (the actions: %.0f %% of an installation)\n", w / o, 100 * (w - o) / w }'
