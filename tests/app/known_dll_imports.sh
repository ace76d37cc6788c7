#!/bin/sh
# The shipped program names in its import table only DLLs that Windows loads from its KnownDLLs
# list, never from beside the executable: anything else (winhttp.dll, comctl32.dll) must be
# delay-loaded, i.e. loaded after startup has limited the DLL search to the system folder. Calls
# that only newer Windows has are looked up at run time instead.
#   known_dll_imports.sh OBJDUMP PROGRAM.exe
set -eu
objdump=$1
program=$2
known=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll "
status=0
for dll in $("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case "$known" in
        *" $dll "*) ;;
        *) echo "imported at load time, not a KnownDLL: $dll"; status=1 ;;
    esac
done
# Per-monitor DPI calls exist only on Windows 10 1607 and later: resolved at run time, or the
# program would not start on older Windows.
imports=$("$objdump" -p "$program")
for call in GetDpiForWindow GetDpiForSystem AdjustWindowRectExForDpi; do
    if printf '%s\n' "$imports" | grep -qw "$call"; then
        echo "imported at load time, missing on older Windows: $call"
        status=1
    fi
done
for dll in winhttp.dll comctl32.dll wintrust.dll crypt32.dll; do
    if ! strings "$program" | grep -qix "$dll"; then
        echo "not delay-loaded: $dll"
        status=1
    fi
done
[ $status -eq 0 ] && echo "$program: load-time imports are KnownDLLs only"
exit $status
