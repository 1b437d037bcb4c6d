#!/bin/sh
# Runs a command on a private X server of its own and ends the server afterwards.
#
#     with-xvfb.sh WIDTHxHEIGHT command [args...]
#
# Xvfb picks a free display itself (-displayfd), so parallel tests never meet. Without Xvfb
# the command is skipped (exit 77, which ctest counts as a skip), except under CI (CI set to
# anything but "", "0" or "false", as in component.h), where the bootstrap has installed it
# and its absence is a broken machine: then it fails, naming Xvfb.
set -u
size=$1
shift
if ! command -v Xvfb >/dev/null 2>&1; then
    why="Xvfb is not available: it is not installed (package xvfb; scripts/bootstrap.sh installs it)"
    case "${CI:-}" in
    "" | 0 | false) echo "with-xvfb: skipped: $why" >&2; exit 77 ;;
    *) echo "with-xvfb: CI needs Xvfb for this test. $why" >&2; exit 1 ;;
    esac
fi
work=$(mktemp -d) || exit 1
Xvfb -displayfd 3 -noreset -nolisten tcp -dpi 96 -screen 0 "${size}x24" \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
server=$!
tries=0
while [ ! -s "$work/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "with-xvfb: Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        kill "$server" 2>/dev/null
        rm -rf "$work"
        exit 1
    fi
    sleep 0.05
done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
"$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$work"
exit "$status"
