#!/bin/sh
# Runs the end-to-end test program on a private X server (Xvfb) and stops the
# server afterwards. Exits 77 (skipped) when no X server can be started.
# Usage: run-e2e.sh TST_E2E [test arguments...]
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 TST_E2E [test arguments...]" >&2
    exit 2
fi
test_program=$1
shift

skip() {
    echo "SKIPPED: $*"
    exit 77
}

for tool in xdotool ffprobe ffmpeg; do
    command -v "$tool" >/dev/null 2>&1 ||
        skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
command -v Xvfb >/dev/null 2>&1 ||
    skip "no X server could be started (Xvfb is not installed; scripts/install-deps.sh installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/monitor-e2e.XXXXXX") || exit 1
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and writes its number to fd 3 once it
# accepts connections. -terminate: it also ends when its last client goes,
# should this script be killed before it can stop it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -terminate 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!

polls=0
while [ ! -s "$work/display" ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
        skip "no X server could be started (Xvfb exited: $(tail -n 3 "$work/xvfb.log" | tr '\n' ' '))"
    fi
    polls=$((polls + 1))
    if [ "$polls" -gt 300 ]; then
        skip "no X server could be started (Xvfb was not ready within 30 s)"
    fi
    sleep 0.1
done

DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR
unset QT_QPA_PLATFORM
# No session bus: the programs on the private display reach nobody's desktop
# services, and libdbus does not try to launch a bus of its own.
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
export DBUS_SESSION_BUS_ADDRESS

"$test_program" -platform xcb "$@"
