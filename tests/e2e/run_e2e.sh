#!/usr/bin/env bash
# Runs the end-to-end cases of ndislogview.exe under Wine on a virtual X display.
#   run_e2e.sh setup   <state dir> <win32|win64>              makes a Wine prefix, starts Xvfb
#   run_e2e.sh run     <state dir> <driver.exe> <program.exe> <case>
#   run_e2e.sh exec    <state dir> <program.exe> [argument...]  runs any Windows program there
#   run_e2e.sh check   <state dir> <regex> <program.exe> [argument...]
#                      the same, passing only with exit code 0 and an output line matching regex
#   run_e2e.sh cleanup <state dir>                              ends both, removes the prefix
#   run_e2e.sh all     <driver.exe> <program.exe> [case...]     setup, every case, cleanup
# The prefix is 32-bit (win32) for i686 programs and 64-bit (win64) for x86_64 ones.
# A missing Wine, Xvfb or Japanese locale is a failure, never a skip; so is a program that
# leaves no sign of having run (a Wine that cannot start it exits 0 without a word).
set -uo pipefail

fail() { echo "e2e: FAILED: $*" >&2; exit 1; }

need_tools() {
    command -v wine >/dev/null || fail "wine is not installed"
    command -v wineboot >/dev/null || fail "wineboot is not installed"
    command -v Xvfb >/dev/null || fail "Xvfb is not installed"
    locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' ||
        fail "the ja_JP.UTF-8 locale is missing (tools/setup-debian generates it)"
}

# Sets the environment of the prefix, and WINE_LOADER: the loader of its architecture. Debian's
# `wine` is the 32-bit loader once wine32 is installed; it hands a 64-bit program to a new
# process through start.exe, which a signal meant for the program then never reaches.
wine_env() {
    export WINEPREFIX="$1" DISPLAY="$2" WINEARCH="$3"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
    # wineserver and wine64 live beside the loader on Debian
    export PATH="$PATH:/usr/lib/wine"
    if [ "$3" = win64 ]; then WINE_LOADER=wine64; else WINE_LOADER=wine; fi
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
        ( wine_env "$PREFIX" "$DISPLAY_NAME" "$WINE_ARCH"; wineserver -k ) >/dev/null 2>&1
        unlock_target "$PREFIX"
        rm -rf "$PREFIX"
    fi
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    rm -f "$state/env"
    echo "e2e: cleaned up"
}

# What Wine said last, for a failure's reason.
wine_said() {
    echo "Wine's last words ($1):"
    tail -n 5 "$1" | sed 's/^/  /'
}

setup() {
    local state=$1 arch=${2:-}
    need_tools
    [ "$arch" = win32 ] || [ "$arch" = win64 ] || fail "setup needs the prefix architecture, win32 or win64"
    mkdir -p "$state"
    cleanup "$state" >/dev/null   # what an aborted run left behind
    local prefix xvfb display pid
    prefix=$(mktemp -d /tmp/ndislog-e2e.XXXXXX) || fail "no temporary folder"
    xvfb=$(start_xvfb "$state/xvfb.log") || { rm -rf "$prefix"; fail "no free X display for Xvfb"; }
    read -r display pid <<<"$xvfb"
    wine_env "$prefix" "$display" "$arch"
    # The loader is named here for the tests in other languages.
    printf 'PREFIX=%q\nDISPLAY_NAME=%q\nXVFB_PID=%q\nWINE_ARCH=%q\nWINE_LOADER=%q\n' \
        "$prefix" "$display" "$pid" "$arch" "$WINE_LOADER" >"$state/env"
    command -v "$WINE_LOADER" >/dev/null || { cleanup "$state"; fail "$WINE_LOADER is not installed"; }
    # A persistent server, with its output away from the test's pipes, serves every case.
    wineserver -p </dev/null >"$state/wine.log" 2>&1
    if ! wineboot -i </dev/null >>"$state/wine.log" 2>&1; then
        cleanup "$state"; fail "wineboot could not make the prefix (see $state/wine.log)"
    fi
    # No window manager runs on the virtual display: unmanaged windows close at once instead
    # of waiting two seconds each for a window manager to withdraw them.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >>"$state/wine.log" 2>&1 || { cleanup "$state"; fail "cannot set up Wine's X11 driver"; }
    # Making a prefix leaves two service managers running; a program started later can then
    # hang before its first window (its desktop waits on the wrong one). Start the prefix
    # afresh, with one set of system processes that serves every case.
    { wineserver -k; wineserver -w; wineserver -p; } </dev/null >>"$state/wine.log" 2>&1
    if ! wineboot </dev/null >>"$state/wine.log" 2>&1; then
        cleanup "$state"; fail "Wine could not start in the new prefix (see $state/wine.log)"
    fi
    # The prefix's own command interpreter, of its architecture, must answer.
    if ! "$WINE_LOADER" cmd /c echo ndislog-wine-runs </dev/null 2>>"$state/wine.log" | grep -q ndislog-wine-runs; then
        wine_said "$state/wine.log" >&2
        cleanup "$state"; fail "Wine ($arch) does not run the prefix's cmd.exe"
    fi
    echo "e2e: $arch Wine prefix $prefix on display $display (Xvfb $pid)"
}

# Loads the environment the setup step left and checks that its display still runs.
enter_prefix() {
    local state=$1
    need_tools
    [ -f "$state/env" ] || fail "no Wine prefix: the setup step did not run or failed"
    # shellcheck disable=SC1091
    . "$state/env"
    kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb ($XVFB_PID) is not running"
    wine_env "$PREFIX" "$DISPLAY_NAME" "$WINE_ARCH"
}

exec_program() {
    local state=$1 program=$2
    shift 2
    enter_prefix "$state"
    [ -f "$program" ] || fail "$program is not built"
    "$WINE_LOADER" "$program" "$@" </dev/null 2>>"$state/wine.log"
}

# Runs a program like exec; passes on exit code 0 with an output line matching `pattern`,
# the program's own sign that it ran.
check_program() {
    local state=$1 pattern=$2 program=$3
    shift 3
    local output status
    output=$(exec_program "$state" "$program" "$@")
    status=$?
    printf '%s\n' "$output"
    require_sign "$state" "$status" "$output" "$pattern" "$(basename "$program")"
}

# Fails unless the run exited 0 and its output holds a line matching `pattern`.
require_sign() {
    local state=$1 status=$2 output=$3 pattern=$4 name=$5
    if [ -z "$(tr -d '\r\n' <<<"$output")" ]; then
        wine_said "$state/wine.log" >&2
        fail "$name printed nothing (exit code $status): Wine did not run it"
    fi
    tr -d '\r' <<<"$output" | grep -qE -- "$pattern" ||
        fail "$name gave no line matching '$pattern' (exit code $status)"
    [ "$status" -eq 0 ] || fail "$name exited with $status"
}

run_case() {
    local state=$1 driver=$2 program=$3 name=$4
    enter_prefix "$state"
    [ -f "$program" ] || fail "the program $program is not built"
    [ "$name" = save_read_only_target ] && lock_target "$PREFIX"
    local output status
    output=$("$WINE_LOADER" "$driver" "$program" "$name" </dev/null 2>>"$state/wine.log")
    status=$?
    unlock_target "$PREFIX"
    printf '%s\n' "$output"
    # The driver's verdict line.
    require_sign "$state" "$status" "$output" "^$name: 0 failure\(s\)$" "the driver of $name"
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

# win32 for an i386 program, win64 for an x86_64 one: the machine field of its PE header.
prefix_arch_of() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    case "$(od -An -tx2 -j$((${header:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')" in
        014c) echo win32 ;;
        8664) echo win64 ;;
        *) echo unknown ;;
    esac
}

mode=${1:-}
case "$mode" in
    setup) setup "$2" "${3:-}" ;;
    cleanup) cleanup "$2" ;;
    run) run_case "$2" "$3" "$4" "$5" ;;
    exec) shift; exec_program "$@" ;;
    check) shift; check_program "$@" ;;
    all)
        driver=$2 program=$3; shift 3
        state=$(mktemp -d /tmp/ndislog-e2e-state.XXXXXX)
        trap 'cleanup "$state"; rm -rf "$state"' EXIT
        setup "$state" "$(prefix_arch_of "$program")" || exit 1
        if [ $# -eq 0 ]; then
            mapfile -t cases < <(. "$state/env"; wine_env "$PREFIX" "$DISPLAY_NAME" "$WINE_ARCH"; "$WINE_LOADER" "$driver" --list | tr -d '\r')
            set -- "${cases[@]}"
        fi
        failed=0
        for name in "$@"; do run_case "$state" "$driver" "$program" "$name" || failed=$((failed + 1)); done
        echo "e2e: $# case(s), $failed failed"
        [ "$failed" -eq 0 ] ;;
    *) sed -n '2,12p' "$0" >&2; exit 2 ;;
esac
