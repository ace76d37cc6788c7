#!/bin/bash
# Digest benchmark: the same 256 MiB file from a local nginx (its own, loopback only, no rate
# limit), downloaded in four parts by this downloader without and with the package digest, and
# beside it one SHA-256 pass right after a download (in the downloading process), one over the
# settled file and one plain read pass. The check should add one hashing pass and nothing more.
# Prints the medians.
#   bench/digest/run.sh            (REPS=N runs of each, default 5; at least 3)
# Builds what it needs into build/bench-digest, makes its own Wine prefix and server, and removes
# both when it ends. Not part of the test run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../bench-setup.sh
. "$root/bench/bench-setup.sh"
bench_build "$root/build/bench-digest" digest_bench
bench_prefix_and_server digest
digest=$(sha256sum "$work/www/package.zip" | cut -d' ' -f1)
url=http://127.0.0.1:$port/files/package.zip
package=$WINEPREFIX/drive_c/Quendrel/Tavro/tmp/Tavro-Vbench-1.zip
package_win='C:\Quendrel\Tavro\tmp\Tavro-Vbench-1.zip'

seconds() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p'; }
record() { echo "$2" >>"$work/out/$1"; }

echo "warming up..." >&2
drive package "$url" >/dev/null

for rep in $(seq 1 "$reps"); do
    echo "run $rep of $reps..." >&2
    for contender in plain digest; do
        rm -rf "$WINEPREFIX/drive_c/Quendrel/Tavro/tmp"
        sync
        if [ "$contender" = plain ]; then
            out=$(drive package "$url")
        else
            out=$(drive package "$url" "$digest")
        fi
        cmp -s "$package" "$work/www/package.zip" || { echo "package differs from the served file" >&2; exit 1; }
        record "$contender" "$(echo "$out" | seconds)"
    done
    rm -rf "$WINEPREFIX/drive_c/Quendrel/Tavro/tmp"
    sync
    record fresh "$(drive fresh "$url" | seconds)"
    out=$(drive hash "$package_win")
    [ "$(echo "$out" | sed -n 's/.*sha256=\([0-9a-f]*\).*/\1/p')" = "$digest" ] || {
        echo "the hash pass gave another digest than sha256sum" >&2
        exit 1
    }
    record hash "$(echo "$out" | seconds)"
    record read "$(drive read "$package_win" | seconds)"
done

median() { sort -n "$work/out/$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
plain=$(median plain)
with=$(median digest)
hash=$(median hash)
read=$(median read)
fresh=$(median fresh)
printf '\n256 MiB over loopback from nginx, four parts, median of %d runs each, seconds\n\n' "$reps"
printf '%-46s %8s\n' "download without a digest" "$plain"
printf '%-46s %8s\n' "download with the digest (hashed before rename)" "$with"
printf '%-46s %8.4f\n' "difference" "$(echo "$with $plain" | awk '{print $1 - $2}')"
printf '%-46s %8s\n' "one SHA-256 pass right after a download" "$fresh"
printf '%-46s %8s\n' "one SHA-256 pass over the file (CNG, 1 MiB)" "$hash"
printf '%-46s %8s\n' "one plain read pass over the file (1 MiB)" "$read"
printf '\nseconds of each run, in order:\n'
for contender in plain digest fresh hash read; do
    printf '  %-7s %s\n' "$contender" "$(tr '\n' ' ' <"$work/out/$contender")"
done
echo
echo "with/without=$(echo "$with $plain" | awk '{printf "%.2f", $1 / $2}') difference/freshpass=$(echo "$with $plain $fresh" | awk '{printf "%.2f", ($1 - $2) / $3}') difference/hashpass=$(echo "$with $plain $hash" | awk '{printf "%.2f", ($1 - $2) / $3}') hashpass/readpass=$(echo "$hash $read" | awk '{printf "%.2f", $1 / $2}')"
