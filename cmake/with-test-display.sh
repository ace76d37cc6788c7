#!/bin/sh
# Runs a test's own driver (a Python script that starts Wine programs itself) with DISPLAY set to
# the test run's X server. A Wine program started without a display can start the prefix's
# desktop process without one, and while that process lives no program of the prefix can open a
# window: every Wine program of a test run has to see the run's display. Like the test binaries'
# (cmake/wine-run.sh), its programs make no desktop entries: a shortcut made under Wine would
# otherwise leave a .desktop file on the prefix's desktop, where later tests count the links.
: "${WINEDLLOVERRIDES:=winemenubuilder.exe=d;mscoree=d;mshtml=d}"
export WINEDLLOVERRIDES
. "$(dirname "$0")/test-display.sh"
exec "$@"
