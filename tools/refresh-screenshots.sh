#!/bin/sh
# Refreshes the checked-in pictures of both windows (docs/installer.png, docs/updater.png, and
# docs/installer-144dpi.png, docs/updater-144dpi.png at 144 DPI) from the real program: the
# end-to-end tests drive it under Wine on their own Xvfb and photograph the installer after a
# finished install and the updater after an update.
set -eu
cd "$(dirname "$0")/.."
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
ctest --preset mingw -R 'e2e(_dpi144)?\.test_(download_pause|updater_applies|a_whole_install_from_the_keyboard)'
for picture in installer updater; do
    cp "build/mingw/e2e-output/$picture.png" "docs/$picture.png"
    cp "build/mingw/e2e-output/dpi144/$picture.png" "docs/$picture-144dpi.png"
    echo "docs/$picture.png and docs/$picture-144dpi.png refreshed"
done
