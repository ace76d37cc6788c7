# Sourced by the Wine scripts of the test harness: windows go to the test run's own X server
# (its name in TAVRO_DISPLAY_FILE), never to the display of whoever runs the tests; without
# such a file, to none.
if [ -n "${TAVRO_DISPLAY_FILE:-}" ] && [ -s "$TAVRO_DISPLAY_FILE" ]; then
    DISPLAY=$(cat "$TAVRO_DISPLAY_FILE")
    export DISPLAY
else
    unset DISPLAY
fi
