#!/bin/bash
# Digest benchmark: the same 256 MiB file from a local nginx (its own, loopback only), downloaded
# in four parts by this downloader without and with the package digest, capped (25 MiB/s per
# connection) and unlimited, in the same run; beside them the checks that must still read the
# whole file (the reuse of an earlier package, the install's hold and re-check), one SHA-256
# pass of the platform's own (CNG) and one plain read pass. Prints the medians.
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
package=$WINEPREFIX/drive_c/Quendrel/Tavro/tmp/Tavro-Vbench-1.zip
package_win='C:\Quendrel\Tavro\tmp\Tavro-Vbench-1.zip'

field() { sed -n "s/.*$1=\([0-9.a-f]*\).*/\1/p"; }
record() { echo "$2" >>"$work/out/$1"; }
url_of() { if [ "$1" = capped ]; then echo "http://127.0.0.1:$port/capped/package.zip"; else echo "http://127.0.0.1:$port/files/package.zip"; fi; }
peak() { echo "$1" | field peakMiB >>"$work/out/peak"; }

echo "warming up..." >&2
head -c 2147483648 /dev/zero | cat >/dev/null
drive package "$(url_of unlimited)" >/dev/null

for rep in $(seq 1 "$reps"); do
    echo "run $rep of $reps..." >&2
    for setting in capped unlimited; do
        url=$(url_of $setting)
        for contender in plain digest; do
            rm -rf "$WINEPREFIX/drive_c/Quendrel/Tavro/tmp"
            sync
            if [ "$contender" = plain ]; then
                out=$(drive package "$url")
            else
                out=$(drive package "$url" "$digest")
            fi
            cmp -s "$package" "$work/www/package.zip" || { echo "package differs from the served file" >&2; exit 1; }
            record "$setting-$contender" "$(echo "$out" | field seconds)"
            record "$setting-$contender-tail" "$(echo "$out" | field tail)"
            [ "$contender" = digest ] && record "$setting-rehash" "$(echo "$out" | field rehash)"
            peak "$out"
        done
    done
    # The package of the last download is in place: the checks that read it whole.
    out=$(drive reuse "$(url_of unlimited)" "$digest")
    record reuse "$(echo "$out" | field seconds)"
    peak "$out"
    out=$(drive hold "$package_win" "$digest")
    record hold "$(echo "$out" | field seconds)"
    out=$(drive hash "$package_win")
    [ "$(echo "$out" | field sha256)" = "$digest" ] || {
        echo "the hash pass gave another digest than sha256sum" >&2
        exit 1
    }
    record hash "$(echo "$out" | field seconds)"
    record read "$(drive read "$package_win" | field seconds)"
    # The merge's copy alone, of the whole file, without and with hashing what it reads.
    copy=$WINEPREFIX/drive_c/Quendrel/Tavro/tmp/copy
    for contender in append append-hash; do
        rm -f "$copy" && : >"$copy" && sync
        if [ $contender = append ]; then
            out=$(drive append "$package_win" 'C:\Quendrel\Tavro\tmp\copy')
        else
            out=$(drive append "$package_win" 'C:\Quendrel\Tavro\tmp\copy' h)
        fi
        cmp -s "$copy" "$package" || { echo "the copy differs" >&2; exit 1; }
        record $contender "$(echo "$out" | field seconds)"
    done
    rm -f "$copy"
done

median() { sort -n "$work/out/$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
# The median over the rounds of each round's $1 / $2 (paired: both come from the same process).
paired() {
    paste "$work/out/$1" "$work/out/$2" | awk '{print $1 / $2}' >"$work/out/$1-per-$2"
    printf '%.2f' "$(median "$1-per-$2")"
}
hash=$(median hash)
speed=$(echo "$size $hash" | awk '{printf "%.0f", $1 / $2 / 1e6}')
three=$(echo "$hash" | awk '{printf "%.4f", $1 * 0.75}')
printf '\n256 MiB over loopback from nginx, four parts, median of %d runs each, seconds\n\n' "$reps"
printf '%-52s %10s %10s\n' "" capped unlimited
printf '%-52s %10s %10s\n' "" "25 MiB/s/conn" ""
for contender in plain digest; do
    name="download without a digest"
    [ "$contender" = digest ] && name="download with the digest"
    printf '%-52s %10s %10s\n' "$name" "$(median capped-$contender)" "$(median unlimited-$contender)"
    printf '%-52s %10s %10s\n' "  last byte to the package in place" "$(median capped-$contender-tail)" "$(median unlimited-$contender-tail)"
done
printf '%-52s %10s %10s\n' "  the last three parts hashed again right after" "$(median capped-rehash)" "$(median unlimited-rehash)"
printf '%-52s %10s %10s\n' "with/without" "$(ratio "$(median capped-digest)" "$(median capped-plain)")" "$(ratio "$(median unlimited-digest)" "$(median unlimited-plain)")"
printf '\n%-52s %10s\n' "reuse check of the earlier package (HEAD and hash)" "$(median reuse)"
printf '%-52s %10s\n' "install's hold and re-check of the package" "$(median hold)"
printf '%-52s %10s  (%s MB/s)\n' "one SHA-256 pass over the file (CNG, 1 MiB)" "$hash" "$speed"
printf '%-52s %10s\n' "  of it, the last three parts (3/4)" "$three"
printf '%-52s %10s\n' "one plain read pass over the file (1 MiB)" "$(median read)"
printf '%-52s %10s\n' "the merge's copy of the whole file" "$(median append)"
printf '%-52s %10s\n' "  the same, hashing what it reads (two threads)" "$(median append-hash)"
printf '\nseconds of each run, in order:\n'
for name in capped-plain capped-digest unlimited-plain unlimited-digest capped-plain-tail capped-digest-tail unlimited-plain-tail unlimited-digest-tail capped-rehash unlimited-rehash reuse hold hash read append append-hash; do
    printf '  %-22s %s\n' "$name" "$(tr '\n' ' ' <"$work/out/$name")"
done
printf '\ntargets: capped with/without <= 1.15; where the hash is the limit, last byte to the package in place with the digest <= 1.1 x the hash of the last three parts; peak working set <= 64 MiB\n'
echo "capped_with/without=$(ratio "$(median capped-digest)" "$(median capped-plain)") unlimited_with/without=$(ratio "$(median unlimited-digest)" "$(median unlimited-plain)") capped_tail/threeparts=$(ratio "$(median capped-digest-tail)" "$three") unlimited_tail/threeparts=$(ratio "$(median unlimited-digest-tail)" "$three") capped_tail/rehash=$(paired capped-digest-tail capped-rehash) unlimited_tail/rehash=$(paired unlimited-digest-tail unlimited-rehash) copyhash/hash=$(ratio "$(median append-hash)" "$hash") peakMiB=$(sort -n "$work/out/peak" | tail -1) load=$(cut -d' ' -f1-3 /proc/loadavg | tr ' ' /)"
