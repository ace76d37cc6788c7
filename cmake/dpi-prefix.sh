#!/bin/sh
# A second Wine prefix for the tests that run at another DPI, so the shared prefix of the test
# run keeps 96 DPI for every other test. Wine reads LogPixels (HKCU\Control Panel\Desktop) when
# a program starts, so one prefix serves every DPI: each test sets its own before it runs, and
# the tests take turns (ctest lock "dpi_prefix").
#   dpi-prefix.sh setup   DIR STANDIN_DIR     copies DIR/prefix (booted) to DIR/dpi-prefix
#   dpi-prefix.sh run     DIR DPI -- CMD...   runs CMD in DIR/dpi-prefix at DPI
#   dpi-prefix.sh cleanup DIR                 stops that prefix's programs and removes it
set -eu
. "$(dirname "$0")/test-display.sh"
action=$1
dir=$2
export WINEPREFIX="$dir/dpi-prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
case "$action" in
setup)
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$WINEPREFIX"
    mkdir "$WINEPREFIX"
    # Copied while the tests of the shared prefix run: what they make and remove meanwhile (their
    # temporary folders, the install root) is left out, and a file that vanishes under the copy
    # all the same is skipped (the reading tar's "file removed" status is not this pipe's), where
    # a plain cp failed the setup.
    tar -C "$dir/prefix" --exclude='./drive_c/users/*/Temp/*' --exclude='./drive_c/Quendrel' \
        --warning=no-file-removed --warning=no-file-changed --warning=no-file-shrank -cf - . |
        tar -C "$WINEPREFIX" -xf -
    wineserver -p </dev/null >/dev/null 2>&1
    # The running server of the shared prefix may not have written the trusted test CA to its
    # registry files yet: the copy trusts it itself.
    wine "$3/trust-ca.exe" "Z:$dir/certs/ca.pem" </dev/null >"$dir/dpi-trust-ca.log" 2>&1 ||
        { cat "$dir/dpi-trust-ca.log" >&2; exit 1; }
    ;;
run)
    dpi=$3
    shift 4
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        </dev/null >/dev/null 2>&1
    TAVRO_EXPECTED_DPI=$dpi exec "$@"
    ;;
cleanup)
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$WINEPREFIX"
    ;;
*)
    echo "usage: $0 setup DIR STANDIN_DIR | run DIR DPI -- CMD... | cleanup DIR" >&2
    exit 2
    ;;
esac
