#!/bin/sh
# Starts (setup) or stops (cleanup) the X server that the Wine tests draw their windows on, so no
# test ever uses the display of the person running them.
#   xvfb.sh setup   DIR    writes DIR/display (":N") once the server accepts clients
#   xvfb.sh cleanup DIR    stops the server started by setup (by its process id)
set -eu
action=$1
dir=$2
stop() {
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
        rm -f "$dir/xvfb.pid"
    fi
}
case "$action" in
setup)
    mkdir -p "$dir"
    stop
    rm -f "$dir/display" "$dir/display.number"
    # Large enough for the windows at 192 DPI: Windows keeps a window within the screen's size.
    # -displayfd: the server picks a free display number and writes it once it is ready. Its
    # output goes nowhere, so ctest does not wait for it after this script ends.
    setsid Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp \
        3>"$dir/display.number" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/xvfb.pid"
    waited=0
    while [ ! -s "$dir/display.number" ]; do
        if [ $waited -ge 100 ]; then
            echo "xvfb.sh: Xvfb did not start within 10 s" >&2
            stop
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    display=":$(tr -d '\n' <"$dir/display.number")"
    # xdotool types through the keyboard map; without one set, typed text arrives garbled.
    DISPLAY=$display setxkbmap us
    echo "$display" >"$dir/display"
    ;;
cleanup)
    stop
    rm -f "$dir/display" "$dir/display.number"
    ;;
*)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
