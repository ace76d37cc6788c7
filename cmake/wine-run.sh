#!/bin/sh
# Runs one Windows test binary under Wine in the test prefix that the harness set up
# (ctest passes WINEPREFIX, HOME and the rest through the test's environment).
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=winemenubuilder.exe=d;mscoree=d;mshtml=d}"
export WINEDEBUG WINEDLLOVERRIDES
. "$(dirname "$0")/test-display.sh"
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run.sh: WINEPREFIX is not set; run the tests through ctest" >&2
    exit 2
fi
# Wine starts its own system processes (services, explorer) from whichever program runs first
# and they inherit its stdout; ctest would then wait for them until they exit. So the program
# writes into a file of its own, which is shown afterwards.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
wine "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
if [ "$rc" -ne 0 ]; then
    # A run that ends before the program prints anything shows at least how it ended.
    echo "wine-run.sh: wine $1 ended with exit code $rc" >&2
fi
exit $rc
