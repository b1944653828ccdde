#!/usr/bin/env bash
# Runs the end-to-end cases of ndislogview.exe under Wine on a virtual X display.
#   run_e2e.sh setup   <state dir>                              makes a Wine prefix, starts Xvfb
#   run_e2e.sh run     <state dir> <driver.exe> <program.exe> <case>
#   run_e2e.sh exec    <state dir> <program.exe> [argument...]  runs any Windows program there
#   run_e2e.sh cleanup <state dir>                              ends both, removes the prefix
#   run_e2e.sh all     <driver.exe> <program.exe> [case...]     setup, every case, cleanup
# A missing Wine, Xvfb or Japanese locale is a failure, never a skip.
set -uo pipefail

fail() { echo "e2e: FAILED: $*" >&2; exit 1; }

need_tools() {
    command -v wine >/dev/null || fail "wine is not installed"
    command -v wineboot >/dev/null || fail "wineboot is not installed"
    command -v Xvfb >/dev/null || fail "Xvfb is not installed"
    locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' ||
        fail "the ja_JP.UTF-8 locale is missing (tools/setup-debian generates it)"
}

wine_env() {
    export WINEPREFIX="$1" DISPLAY="$2"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
    # wineserver lives beside the loader on Debian
    export PATH="$PATH:/usr/lib/wine"
}

# Starts Xvfb on the first display from :93 on that nobody holds; prints "<display> <pid>".
start_xvfb() {
    local n log=$1
    for n in $(seq 93 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$log" 2>&1 &
        local pid=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && { echo ":$n $pid"; return 0; }
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    done
    return 1
}

cleanup() {
    local state=$1
    [ -f "$state/env" ] || return 0
    # shellcheck disable=SC1091
    . "$state/env"
    if [ -n "${PREFIX:-}" ] && [ -d "$PREFIX" ]; then
        ( wine_env "$PREFIX" "$DISPLAY_NAME"; wineserver -k ) >/dev/null 2>&1
        unlock_target "$PREFIX"
        rm -rf "$PREFIX"
    fi
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    rm -f "$state/env"
    echo "e2e: cleaned up"
}

setup() {
    local state=$1
    need_tools
    mkdir -p "$state"
    cleanup "$state" >/dev/null   # what an aborted run left behind
    local prefix xvfb display pid
    prefix=$(mktemp -d /tmp/ndislog-e2e.XXXXXX) || fail "no temporary folder"
    xvfb=$(start_xvfb "$state/xvfb.log") || { rm -rf "$prefix"; fail "no free X display for Xvfb"; }
    read -r display pid <<<"$xvfb"
    printf 'PREFIX=%q\nDISPLAY_NAME=%q\nXVFB_PID=%q\n' "$prefix" "$display" "$pid" >"$state/env"
    wine_env "$prefix" "$display"
    # A persistent server, with its output away from the test's pipes, serves every case.
    wineserver -p </dev/null >"$state/wine.log" 2>&1
    if ! wineboot -i </dev/null >>"$state/wine.log" 2>&1; then
        cleanup "$state"; fail "wineboot could not make the prefix (see $state/wine.log)"
    fi
    # No window manager runs on the virtual display: unmanaged windows close at once instead
    # of waiting two seconds each for a window manager to withdraw them.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >>"$state/wine.log" 2>&1 || { cleanup "$state"; fail "cannot set up Wine's X11 driver"; }
    # Making a prefix leaves two service managers running; a program started later can then
    # hang before its first window (its desktop waits on the wrong one). Start the prefix
    # afresh, with one set of system processes that serves every case.
    { wineserver -k; wineserver -w; wineserver -p; } </dev/null >>"$state/wine.log" 2>&1
    if ! wineboot </dev/null >>"$state/wine.log" 2>&1; then
        cleanup "$state"; fail "Wine could not start in the new prefix (see $state/wine.log)"
    fi
    echo "e2e: Wine prefix $prefix on display $display (Xvfb $pid)"
}

# Loads the environment the setup step left and checks that its display still runs.
enter_prefix() {
    local state=$1
    need_tools
    [ -f "$state/env" ] || fail "no Wine prefix: the setup step did not run or failed"
    # shellcheck disable=SC1091
    . "$state/env"
    kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb ($XVFB_PID) is not running"
    wine_env "$PREFIX" "$DISPLAY_NAME"
}

exec_program() {
    local state=$1 program=$2
    shift 2
    enter_prefix "$state"
    [ -f "$program" ] || fail "$program is not built"
    wine "$program" "$@" </dev/null 2>>"$state/wine.log"
}

run_case() {
    local state=$1 driver=$2 program=$3 name=$4
    enter_prefix "$state"
    [ -f "$program" ] || fail "the program $program is not built"
    [ "$name" = save_read_only_target ] && lock_target "$PREFIX"
    wine "$driver" "$program" "$name" </dev/null 2>>"$state/wine.log"
    local status=$?
    unlock_target "$PREFIX"
    return $status
}

# The read-only Save target. Wine lets root write a file without write permission, so for
# root the file is made immutable as well.
lock_target() {
    local folder="$1/drive_c/e2e-locked"
    unlock_target "$1"
    mkdir -p "$folder" && printf 'locked content\r\n' >"$folder/locked.txt" && chmod 444 "$folder/locked.txt"
    [ "$(id -u)" -eq 0 ] && chattr +i "$folder/locked.txt"
}

unlock_target() {
    local folder="$1/drive_c/e2e-locked"
    [ -d "$folder" ] || return 0
    chattr -R -i "$folder" 2>/dev/null
    rm -rf "$folder"
}

mode=${1:-}
case "$mode" in
    setup) setup "$2" ;;
    cleanup) cleanup "$2" ;;
    run) run_case "$2" "$3" "$4" "$5" ;;
    exec) shift; exec_program "$@" ;;
    all)
        driver=$2 program=$3; shift 3
        state=$(mktemp -d /tmp/ndislog-e2e-state.XXXXXX)
        trap 'cleanup "$state"; rm -rf "$state"' EXIT
        setup "$state" || exit 1
        if [ $# -eq 0 ]; then
            mapfile -t cases < <(wine_env /nonexistent :0; . "$state/env"; wine_env "$PREFIX" "$DISPLAY_NAME"; wine "$driver" --list | tr -d '\r')
            set -- "${cases[@]}"
        fi
        failed=0
        for name in "$@"; do run_case "$state" "$driver" "$program" "$name" || failed=$((failed + 1)); done
        echo "e2e: $# case(s), $failed failed"
        [ "$failed" -eq 0 ] ;;
    *) sed -n '2,8p' "$0" >&2; exit 2 ;;
esac
