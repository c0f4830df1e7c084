# Wine for the e2e tiers and the demo (sourced, not run).
#
# One prefix is booted once and kept as a template under build/wine/; every
# tier works in a fresh copy of it, so that no tier sees another's registry.
# The template is booted again when the Wine version changes, and when the
# 32-bit loader starts or stops running: a prefix booted without it has no
# 32-bit system.
#
# Settings (environment): VANTOR_WINE, the Wine loader (default
# /usr/lib/wine/wine64; the "wine" front script does not work here).

: "${ROOT:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
WINE=${VANTOR_WINE:-/usr/lib/wine/wine64}
if [ -x "$(dirname "$WINE")/wineserver" ]; then
    WINESERVER=$(dirname "$WINE")/wineserver
else
    WINESERVER=wineserver
fi
WINE_DIR=$ROOT/build/wine
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

# Prints the reason and fails when Wine cannot be used at all.
wine_usable() {
    [ -x "$WINE" ] || { echo "no Wine loader at $WINE"; return 1; }
}

# Whether the 32-bit Wine loader (an i386 Linux program) can execute here.
wine32_loader_runs() {
    local loader
    loader=$(dirname "$WINE")/wine
    [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1
}

# Boots the template prefix unless a booted one of this Wine version exists.
wine_template() {
    local template=$WINE_DIR/template version
    version="$("$WINE" --version 2>/dev/null); 32-bit loader: $(wine32_loader_runs && echo yes || echo no)"
    mkdir -p "$WINE_DIR"
    (
        flock 9
        if [ "$(cat "$template/.vantor-booted" 2>/dev/null)" != "$version" ]; then
            rm -rf "$template"
            WINEPREFIX=$template "$WINE" wineboot -i >"$WINE_DIR/template-boot.log" 2>&1 || true
            WINEPREFIX=$template "$WINESERVER" -w
            [ -f "$template/system.reg" ] || { cat "$WINE_DIR/template-boot.log"; exit 1; }
            echo "$version" >"$template/.vantor-booted"
        fi
    ) 9>"$WINE_DIR/.template.lock"
}

# wine_prefix NAME: a fresh copy of the template at build/wine/NAME, which
# becomes WINEPREFIX. The copy stays after the run, for a look at its state.
wine_prefix() {
    wine_template || return 1
    export WINEPREFIX=$WINE_DIR/$1
    wine_stop
    rm -rf "$WINEPREFIX"
    cp -a "$WINE_DIR/template" "$WINEPREFIX"
    # A server that stays up between the many short Wine runs of a tier saves
    # seconds on each; wine_stop ends it. The prefix's services start with the
    # first program and inherit its output: started here, detached from any
    # pipe, they cannot keep a caller's $(...) waiting.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# Stops the prefix's server and everything it runs (services too).
wine_stop() {
    [ -d "${WINEPREFIX:-}" ] && "$WINESERVER" -k 2>/dev/null
    return 0
}

# A Unix path as Windows sees it (drive Z: is the root).
winpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

# wine_capture ARGS...: runs a Windows program, its output (both streams) to
# stdout, its status returned. The program writes to a file, never into the
# caller's pipe: a Wine service started on the way would inherit that pipe and
# keep a $(...) waiting for ever.
wine_capture() {
    local out rc
    out=$(mktemp)
    "$WINE" "$@" </dev/null >"$out" 2>&1
    rc=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    return $rc
}

# wine_image_running IMAGE: whether a live process of this prefix runs the
# executable IMAGE (its file name). Wine lists no processes (tasklist prints
# nothing): the Linux processes that carry this WINEPREFIX are asked; one that
# has exited (a zombie) has no environment left and does not count.
wine_image_running() {
    local pid
    for pid in $(pgrep -f -- "$1"); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}

# wine_service_gone NAME IMAGE [SECONDS]: waits, polling, until the prefix's
# service manager no longer knows the service NAME and no process runs its
# executable IMAGE; fails when either still holds after SECONDS (10).
# A removal by msiexec returns before that: Wine's StopServices asks the
# service to stop without waiting for its process to end, and DeleteService
# only marks the service, which stays (sc query shows it stopped) until the
# last handle on it closes, the exiting process's own among them. An
# installation in that time creates no service (CreateService answers 1072,
# and InstallServices still reports success): its start action starts the
# marked one, which vanishes at its next stop, or, should that one go in the
# meantime, finds none and fails the installation.
# ("Gone" counts when a second look agrees: reg.exe answers "not found" now
# and then on a busy machine, and sc.exe is given the same doubt.)
wine_service_gone() {
    local deadline=$((SECONDS + ${3:-10})) seen=0
    while [ "$seen" -lt 2 ]; do
        if wine_capture sc query "$1" >/dev/null || wine_image_running "$2"; then
            seen=0
            [ "$SECONDS" -lt "$deadline" ] || return 1
            sleep 0.2
        else
            seen=$((seen + 1))
        fi
    done
    return 0
}

# can_run_bitness ARCH: 0 when this machine runs Windows code of that
# bitness in the current prefix; 1 (with the reason printed) when the machine
# cannot execute such code at all, which makes a tier skip; 2 (with what was
# seen) when it should but the probe built for ARCH does not run, a failure.
can_run_bitness() {
    local probe=$ROOT/build/$1/e2e/bitness_probe.exe out
    if [ "$1" = x86 ] && ! wine32_loader_runs; then
        echo "this machine cannot execute 32-bit code"
        return 1
    fi
    [ -f "$probe" ] || { echo "no probe at $probe (run ./run build)"; return 2; }
    out=$(wine_capture "$probe")
    grep -q 'bitness probe: .* code runs' <<<"$out" && return 0
    echo "the $1 probe does not run: $(head -c 300 <<<"$out" | tr '\n' ' ')"
    return 2
}

# msiexec_rc LOG ARGS...: runs msiexec ARGS with a verbose log at LOG and
# prints msiexec's true exit code. (Wine's own exit status keeps only the low
# 8 bits, 1603 becoming 67; cmd's ERRORLEVEL holds all of it.)
# An installation that has not ended after MSIEXEC_LIMIT seconds (600 unless
# set) is stopped with the prefix's whole server and answers "timeout": a hung
# engine fails its case and the tier goes on, instead of holding the run.
msiexec_rc() {
    local log=$1 out rc
    shift
    out=$(mktemp)
    timeout --kill-after=10 "${MSIEXEC_LIMIT:-600}" "$WINE" cmd /c \
        "msiexec $* /l*v $(winpath "$log") & call echo vantor-rc=%^ERRORLEVEL%" </dev/null >"$out" 2>&1
    rc=$?
    if [ $rc = 124 ] || [ $rc = 137 ]; then
        "$WINESERVER" -k </dev/null >/dev/null 2>&1
        rm -f "$out"
        echo timeout
        return 0
    fi
    rc=$(tr -d '\r' <"$out" | sed -n 's/.*vantor-rc=\([0-9-]*\).*/\1/p' | tail -1)
    rm -f "$out"
    echo "${rc:-none}"
}

# reg_view ARCH: the registry view (reg.exe's /reg:N) of a process of that bitness.
reg_view() { if [ "$1" = x86 ]; then echo 32; else echo 64; fi; }
