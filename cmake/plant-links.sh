#!/bin/sh
# Runs one test with links planted inside the test prefix's drive C from the Linux side, before
# the test binary starts: under Wine that is the only way to make a link (CreateSymbolicLinkW
# creates nothing, a junction fails with error 50). Wine reports a host link to a folder as a
# reparse point (attributes 0x410) and one to a file as a plain file.
#   plant-links.sh KIND:PATH... -- COMMAND...
# KIND is dir (a symbolic link to a folder holding keep.txt, Ostrilan.exe and sub/deep.txt),
# file (a symbolic link to a file), hard (a second hard link to a file) or up (a symbolic link to
# the folder that holds it, a loop for any walk that follows links); PATH is below drive_c,
# '/' between folders (Quendrel/Tavro/Ostrilan). The Nth link's target is C:/LinkTargets/N. The
# targets are listed with their checksums before COMMAND and again after it, and any difference
# fails the run. Afterwards the links, the targets and C:/Quendrel are removed (rm removes a
# link itself, never what it points to).
set -eu
if [ -z "${WINEPREFIX:-}" ]; then
    echo "plant-links.sh: WINEPREFIX is not set; run the tests through ctest" >&2
    exit 2
fi
drive=$WINEPREFIX/drive_c
targets=$drive/LinkTargets
planted=""

snapshot() {
    (cd "$targets" && find . -printf '%y %p %s\n' | sort && find . -type f -print0 | sort -z |
        xargs -0 -r sha256sum) || echo "the targets cannot be listed"
}
remove_all_planted() {
    for link in $planted; do rm -f "$drive/$link"; done
    rm -rf "$targets" "$drive/Quendrel"
}

remove_all_planted
mkdir -p "$targets"
n=0
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    kind=${1%%:*}
    link=${1#*:}
    shift
    target=$targets/$n
    case $kind in
    dir)
        mkdir -p "$target/sub"
        printf 'planted target %s\n' "$n" >"$target/keep.txt"
        printf 'not a program of the package\n' >"$target/Ostrilan.exe"
        printf 'deep\n' >"$target/sub/deep.txt"
        ;;
    file | hard) printf 'planted target %s\n' "$n" >"$target" ;;
    up) target=$(dirname "$drive/$link") ;;
    *)
        echo "plant-links.sh: unknown kind $kind" >&2
        exit 2
        ;;
    esac
    mkdir -p "$(dirname "$drive/$link")"
    if [ "$kind" = hard ]; then ln "$target" "$drive/$link"; else ln -s "$target" "$drive/$link"; fi
    planted="$planted $link"
    n=$((n + 1))
done
[ "$#" -gt 0 ] && shift
before=$(snapshot)

set +e
"$@"
rc=$?
set -e

after=$(snapshot)
remove_all_planted
if [ "$before" != "$after" ]; then
    echo "plant-links.sh: what a planted link points to has changed" >&2
    printf '%s\n' "$before" >"${TMPDIR:-/tmp}/plant-links.before.$$"
    printf '%s\n' "$after" | diff "${TMPDIR:-/tmp}/plant-links.before.$$" - >&2 || true
    rm -f "${TMPDIR:-/tmp}/plant-links.before.$$"
    exit 1
fi
exit $rc
