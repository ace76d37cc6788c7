#!/bin/sh
# Installs the stand-ins for outside programs into a Wine prefix (tests and demo only).
#   install-standins.sh WINEPREFIX BUILT_STANDINS_DIR
# - powershell.exe replaces Wine's stub where the command interpreter finds it
#   (C:\windows\system32\WindowsPowerShell\v1.0 is on the prefix's PATH);
# - taskkill.exe replaces Wine's, which rejects /t (a DllOverrides entry makes Wine run the
#   native file: for its own system programs it would otherwise load the built-in one);
# - Tavro.exe, Ostrilan.exe and zadig-2.3.exe go to C:\standins, from where tests and the demo
#   put them into release packages.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 WINEPREFIX BUILT_STANDINS_DIR" >&2
    exit 2
fi
prefix=$1
built=$2
system32="$prefix/drive_c/windows/system32"
for program in powershell.exe taskkill.exe Tavro.exe Ostrilan.exe zadig-2.3.exe; do
    if [ ! -f "$built/$program" ]; then
        echo "install-standins.sh: $built/$program is missing; build the tools first" >&2
        exit 1
    fi
done
if [ ! -d "$system32" ]; then
    echo "install-standins.sh: $system32 does not exist; boot the prefix first" >&2
    exit 1
fi
mkdir -p "$system32/WindowsPowerShell/v1.0" "$prefix/drive_c/standins"
cp -f "$built/powershell.exe" "$system32/WindowsPowerShell/v1.0/powershell.exe"
cp -f "$built/taskkill.exe" "$system32/taskkill.exe"
for program in Tavro.exe Ostrilan.exe zadig-2.3.exe; do
    cp -f "$built/$program" "$prefix/drive_c/standins/$program"
done
export WINEPREFIX="$prefix"
: "${WINEDEBUG:=-all}"
export WINEDEBUG
for program in taskkill.exe powershell.exe; do
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v "$program" /d native /f </dev/null >/dev/null 2>&1
done
