#!/bin/sh
# Refreshes the checked-in pictures of both windows (docs/installer.png, docs/updater.png) from
# the real program: the end-to-end tests drive it under Wine on their own Xvfb and photograph the
# installer after a finished install and the updater after an update.
set -eu
cd "$(dirname "$0")/.."
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
ctest --preset mingw -R 'e2e\.test_(download_pause|updater_applies)'
for picture in installer updater; do
    cp "build/mingw/e2e-output/$picture.png" "docs/$picture.png"
    echo "docs/$picture.png refreshed"
done
