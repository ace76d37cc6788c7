#!/bin/bash
# Download benchmark: the same 256 MiB file from the same local nginx, fetched by this
# downloader (four parts, and forced to one stream), aria2c -x4 -s4 -k1M, curl, and a bare
# WinHTTP loop (four ranges on four threads, and one stream), with a per-connection cap of
# 25 MiB/s and unlimited. Prints the medians side by side and, last, one machine-readable line.
#   bench/download/run.sh            (REPS=N runs of each, default 5; at least 3)
#   CONTENDERS="ours4 bare4" bench/download/run.sh    (only these; for quick comparisons)
# Builds what it needs into build/bench-download, makes its own Wine prefix and its own nginx
# (loopback only), and removes both when it ends. Not part of the test run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
all_contenders="ours4 ours1 aria2 curl bare4 bare1"
contenders=${CONTENDERS:-$all_contenders}
# shellcheck source=../bench-setup.sh
. "$root/bench/bench-setup.sh"
bench_build "$root/build/bench-download" download_bench
bench_prefix_and_server download
mkdir -p "$WINEPREFIX/drive_c/bench"
base=http://127.0.0.1:$port

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
record() { echo "$3" >>"$work/out/$1.$2"; }  # setting contender seconds

package=$WINEPREFIX/drive_c/Quendrel/Tavro/tmp/Tavro-Vbench-1.zip
ours() {  # setting contender location
    local out
    out=$(drive package "$base/$3/package.zip")
    cmp -s "$package" "$work/www/package.zip" || { echo "package differs from the served file" >&2; exit 1; }
    record "$1" "$2" "$(echo "$out" | field seconds)"
    record "$1" "$2.firstByte" "$(echo "$out" | field firstByte)"
    [ "$2" = ours4 ] && record "$1" "$2.merge" "$(echo "$out" | field merge)"
    echo "$out" | field peakMiB >>"$work/out/peak"
}
bare4() {
    local out
    out=$(drive bare4 "$base/$2/package.zip" "$size" 'C:\bench')
    record "$1" bare4 "$(echo "$out" | field seconds)"
    record "$1" bare4.firstByte "$(echo "$out" | field firstByte)"
}
bare1() { record "$1" bare1 "$(drive bare1 "$base/$2/package.zip" 'C:\bench' | field seconds)"; }
timed() {  # setting contender command...
    local setting=$1 contender=$2 start
    shift 2
    start=$(now)
    "$@" >/dev/null 2>&1
    record "$setting" "$contender" "$(echo "$(now) $start" | awk '{printf "%.4f", $1 - $2}')"
}
aria2() {
    rm -f "$work/aria2.bin"
    timed "$1" aria2 aria2c -x4 -s4 -k1M -q --allow-overwrite=true --auto-file-renaming=false \
        -d "$work" -o aria2.bin "$base/$2/package.zip"
}
curl1() { timed "$1" curl curl -s -o "$work/curl.bin" "$base/$2/package.zip"; }

# Warm-up, not measured: the first runs after the start were repeatedly the slowest (the likely
# cause is this virtual machine backing fresh memory on first touch). So 2 GiB go through the
# page cache once, then each Wine contender downloads once.
echo "warming up..." >&2
head -c 2147483648 /dev/zero >"$work/warm-up.bin"
rm -f "$work/warm-up.bin"
drive package "$base/files/package.zip" >/dev/null
drive bare4 "$base/files/package.zip" "$size" 'C:\bench' >/dev/null

for rep in $(seq 1 "$reps"); do
    echo "run $rep of $reps..." >&2
    for setting in capped unlimited; do
        if [ "$setting" = capped ]; then loc=capped single=capped-single; else loc=files single=single; fi
        for contender in $contenders; do
            # Each run starts with no earlier output on disk and nothing waiting to be written.
            rm -rf "$work/aria2.bin" "$work/curl.bin" "$WINEPREFIX"/drive_c/bench/* \
                "$WINEPREFIX/drive_c/Quendrel/Tavro/tmp"
            sync
            case $contender in
            ours4) ours "$setting" ours4 "$loc" ;;
            ours1) ours "$setting" ours1 "$single" ;;
            aria2) aria2 "$setting" "$loc" ;;
            curl) curl1 "$setting" "$loc" ;;
            bare4) bare4 "$setting" "$loc" ;;
            bare1) bare1 "$setting" "$loc" ;;
            esac
        done
    done
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Figures of contenders that did not run are "-".
medianOf() { if [ -s "$work/out/$1.$2" ]; then median "$work/out/$1.$2"; else echo -; fi; }
mbps() {
    local s
    s=$(medianOf "$1" "$2")
    if [ "$s" = - ]; then echo -; else awk -v s="$s" -v n="$size" 'BEGIN {printf "%.1f", n / s / 1e6}'; fi
}
ratio() { if [ "$1" = - ] || [ "$2" = - ]; then echo -; else awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; fi; }

printf '\n%s, median of %d runs each, MB/s (10^6 bytes per second)\n\n' "256 MiB over loopback from nginx" "$reps"
printf '%-44s %12s %12s\n' "" "capped" "unlimited"
printf '%-44s %12s %12s\n' "" "25 MiB/s/conn" ""
for contender in $contenders; do
    case $contender in
    ours4) name="this downloader, four parts" ;;
    ours1) name="this downloader, one stream (no ranges)" ;;
    aria2) name="aria2c -x4 -s4 -k1M" ;;
    curl) name="curl, one stream" ;;
    bare4) name="bare WinHTTP loop, four ranges" ;;
    bare1) name="bare WinHTTP loop, one stream" ;;
    esac
    printf '%-44s %12s %12s\n' "$name" "$(mbps capped $contender)" "$(mbps unlimited $contender)"
done
printf '\nseconds of each run, in order:\n'
for setting in capped unlimited; do
    for contender in $contenders; do
        printf '  %-10s %-6s %s\n' "$setting" "$contender" "$(tr '\n' ' ' <"$work/out/$setting.$contender")"
    done
done
printf '\nmedian seconds                                     capped    unlimited\n'
printf '  four parts: last byte to the package in place %9s %12s\n' \
    "$(medianOf capped ours4.merge)" "$(medianOf unlimited ours4.merge)"
printf '  four parts: first body byte after the start   %9s %12s\n' \
    "$(medianOf capped ours4.firstByte)" "$(medianOf unlimited ours4.firstByte)"
printf '  bare loop, four ranges: first body byte        %9s %12s\n' \
    "$(medianOf capped bare4.firstByte)" "$(medianOf unlimited bare4.firstByte)"
c4=$(mbps capped ours4)
c1=$(mbps capped ours1)
ca=$(mbps capped aria2)
cb4=$(mbps capped bare4)
u4=$(mbps unlimited ours4)
u1=$(mbps unlimited ours1)
b4=$(mbps unlimited bare4)
b1=$(mbps unlimited bare1)
peak=-
if [ -s "$work/out/peak" ]; then
    peak=$(sort -n "$work/out/peak" | tail -1 | awk '{printf "%d", ($1 == int($1)) ? $1 : int($1) + 1}')
fi
printf '\ntargets: capped4/bare4 >= 0.95, capped4/capped1 >= 3.6, capped4/aria2 >= 0.9, '
printf 'unlimited4/bare4 >= 0.9, unlimited1/bare1 >= 0.9, peak working set <= 64 MiB\n'
printf 'peak working set of this downloader (largest of all its runs): %s MiB\n\n' "$peak"
echo "capped4/capped1=$(ratio "$c4" "$c1") capped4/aria2=$(ratio "$c4" "$ca") unlimited4/bare4=$(ratio "$u4" "$b4") unlimited1/bare1=$(ratio "$u1" "$b1") capped4/bare4=$(ratio "$c4" "$cb4") peakMiB=$peak"
