#!/bin/sh
# Installs every Debian package the project needs to build, test, benchmark and run its demo.
# Safe to run again: it asks apt only when something is missing.
set -eu

packages="
    cmake ninja-build git python3 python3-cryptography curl openssl tinyproxy
    clang libclang-rt-14-dev clang-format googletest libgtest-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev libz-mingw-w64-dev
    wine wine64 xvfb xdotool x11-xkb-utils imagemagick
    nginx-light aria2 osslsigncode
"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -ne 0 ]; then
        SUDO=sudo
    else
        SUDO=
    fi
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
