#!/bin/sh
# Refreshes the checked-in pictures of the windows (docs/installer.png, docs/updater.png,
# docs/uninstall.png) from the real program: the end-to-end tests drive it under Wine on their
# own Xvfb and photograph the installer after a finished install, the updater after an update
# and the uninstall window at its end.
set -eu
cd "$(dirname "$0")/.."
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
ctest --preset mingw -R 'e2e\.test_(download_pause|updater_applies|uninstall_keeps)'
for picture in installer updater uninstall; do
    cp "build/mingw/e2e-output/$picture.png" "docs/$picture.png"
    echo "docs/$picture.png refreshed"
done
