#!/bin/sh
# Creates (setup) or removes (cleanup) the Wine prefix one test run uses.
#   wine-prefix.sh setup   DIR [STANDIN_DIR [SIGNING_CA]]
#   wine-prefix.sh cleanup DIR
# DIR/certs gets the run's certificates (tools/tls/make-test-certs.sh), and the prefix trusts
# their test CA (trust-ca.exe from STANDIN_DIR): only this prefix, never the host. So it does the
# build's throwaway code-signing CA (SIGNING_CA, tools/codesign/make-signing-certs.sh) when given.
# DIR/prefix is the WINEPREFIX, DIR/home the sandboxed HOME, so nothing reaches the real desktop.
# With TAVRO_DISPLAY_FILE naming the test run's X server, the prefix's desktop process starts on
# that display (it decides the display driver of every later program); without it, on none.
set -eu
. "$(dirname "$0")/test-display.sh"
action=$1
dir=$2
export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
case "$action" in
setup)
    if [ -d "$WINEPREFIX" ]; then WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; fi
    rm -rf "$dir"
    mkdir -p "$HOME"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    # The test display has no window manager: unmanaged windows close at once, where a managed
    # one waits 2 s in the X11 driver for a manager that never answers. Written while no server
    # runs, so the file is read as it is.
    printf '\n[Software\\\\Wine\\\\X11 Driver] 1\n"Managed"="N"\n' >> "$WINEPREFIX/user.reg"
    # The user's proxy settings say "direct, no detection": a fresh prefix reports automatic
    # detection otherwise, and every request of every test would look for a proxy first. The
    # proxy tests (tests/net/proxy_test.py) change these settings and put them back.
    printf '\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Internet Settings\\\\Connections] 1\n"DefaultConnectionSettings"=hex:46,00,00,00,01,00,00,00,01,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\n' >> "$WINEPREFIX/user.reg"
    # Keep one server alive for the whole run: a cold start costs ~0.7 s per test.
    wineserver -p </dev/null >/dev/null 2>&1
    standins=${3:-}
    if [ -n "$standins" ] && [ -x "$(dirname "$0")/../tools/install-standins.sh" ]; then
        "$(dirname "$0")/../tools/install-standins.sh" "$WINEPREFIX" "$standins"
    fi
    if [ -n "$standins" ]; then
        "$(dirname "$0")/../tools/tls/make-test-certs.sh" "$dir/certs"
        wine "$standins/trust-ca.exe" "Z:$dir/certs/ca.pem" </dev/null >"$dir/trust-ca.log" 2>&1 ||
            { cat "$dir/trust-ca.log" >&2; exit 1; }
        signing_ca=${4:-}
        if [ -n "$signing_ca" ] && [ -f "$signing_ca" ]; then
            wine "$standins/trust-ca.exe" "Z:$signing_ca" </dev/null >>"$dir/trust-ca.log" 2>&1 ||
                { cat "$dir/trust-ca.log" >&2; exit 1; }
        fi
    fi
    ;;
cleanup)
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 setup|cleanup DIR [STANDIN_DIR]" >&2
    exit 2
    ;;
esac
