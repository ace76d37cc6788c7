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
all_contenders="ours4 ours1 aria2 curl bare4 bare1 ours4tls aria2tls bare4tls"
contenders=${CONTENDERS:-$all_contenders}
# shellcheck source=../bench-setup.sh
. "$root/bench/bench-setup.sh"
bench_build "$root/build/bench-download" download_bench
cmake --build "$root/build/bench-download" --target trust_ca >/dev/null
trust_ca=$(find "$root/build/bench-download" -name trust-ca.exe | head -1)
bench_prefix_and_server download
mkdir -p "$WINEPREFIX/drive_c/bench"
base=http://127.0.0.1:$port
# The same file over TLS from a second nginx: a certificate for localhost from a test CA made
# for this run, trusted inside this prefix only (and by aria2c through its own option).
"$root/tools/tls/make-test-certs.sh" "$work/certs"
wine "$trust_ca" "Z:$work/certs/ca.pem" </dev/null >"$work/trust.txt" 2>&1 || { cat "$work/trust.txt" >&2; exit 1; }
# No proxy in the user's settings: a fresh prefix says "detect automatically" otherwise.
wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d 460000000100000001000000000000000000000000000000 /f \
    </dev/null >/dev/null 2>&1
tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$here/nginx.sh" start "$work/nginx-tls" "$tls_port" "$work/www" "$work/certs/localhost.pem" "$work/certs/localhost.key"
trap '"$here/nginx.sh" stop "$work/nginx-tls" || true; bench_cleanup' EXIT
tls_base=https://localhost:$tls_port

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
record() { echo "$3" >>"$work/out/$1.$2"; }  # setting contender seconds

package=$WINEPREFIX/drive_c/Quendrel/Tavro/tmp/Tavro-Vbench-1.zip
ours() {  # setting contender location
    local out
    out=$(drive package "${4:-$base}/$3/package.zip")
    cmp -s "$package" "$work/www/package.zip" || { echo "package differs from the served file" >&2; exit 1; }
    record "$1" "$2" "$(echo "$out" | field seconds)"
    record "$1" "$2.firstByte" "$(echo "$out" | field firstByte)"
    case $2 in ours4*) record "$1" "$2.merge" "$(echo "$out" | field merge)" ;; esac
    record "$1" "$2.cpu" "$(echo "$out" | field cpu)"
    echo "$out" | field peakMiB >>"$work/out/peak"
}
bare4() {  # setting location [contender base]
    local out contender=${3:-bare4}
    out=$(drive bare4 "${4:-$base}/$2/package.zip" "$size" 'C:\bench')
    record "$1" "$contender" "$(echo "$out" | field seconds)"
    record "$1" "$contender.firstByte" "$(echo "$out" | field firstByte)"
    record "$1" "$contender.cpu" "$(echo "$out" | field cpu)"
}
bare1() { record "$1" bare1 "$(drive bare1 "$base/$2/package.zip" 'C:\bench' | field seconds)"; }
timed() {  # setting contender command...
    local setting=$1 contender=$2 start
    shift 2
    start=$(now)
    "$@" >/dev/null 2>&1
    record "$setting" "$contender" "$(echo "$(now) $start" | awk '{printf "%.4f", $1 - $2}')"
}
aria2() {  # setting location [contender base]
    rm -f "$work/aria2.bin"
    timed "$1" "${3:-aria2}" aria2c -x4 -s4 -k1M -q --allow-overwrite=true --auto-file-renaming=false \
        --ca-certificate="$work/certs/ca.pem" -d "$work" -o aria2.bin "${4:-$base}/$2/package.zip"
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
case " $contenders " in *tls*) drive package "$tls_base/files/package.zip" >/dev/null ;; esac

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
            ours4tls) ours "$setting" ours4tls "$loc" "$tls_base" ;;
            aria2tls) aria2 "$setting" "$loc" aria2tls "$tls_base" ;;
            bare4tls) bare4 "$setting" "$loc" bare4tls "$tls_base" ;;
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
    ours4tls) name="TLS: this downloader, four parts" ;;
    aria2tls) name="TLS: aria2c -x4 -s4 -k1M" ;;
    bare4tls) name="TLS: bare WinHTTP loop, four ranges" ;;
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
printf '  processor seconds of the process (user + kernel), capped, unlimited:\n'
for contender in ours4 bare4 ours4tls bare4tls; do
    printf '    %-10s %9s %12s\n' "$contender" "$(medianOf capped $contender.cpu)" "$(medianOf unlimited $contender.cpu)"
done
c4=$(mbps capped ours4)
c1=$(mbps capped ours1)
ca=$(mbps capped aria2)
cb4=$(mbps capped bare4)
u4=$(mbps unlimited ours4)
u1=$(mbps unlimited ours1)
b4=$(mbps unlimited bare4)
b1=$(mbps unlimited bare1)
ct4=$(mbps capped ours4tls)
ctb4=$(mbps capped bare4tls)
ut4=$(mbps unlimited ours4tls)
utb4=$(mbps unlimited bare4tls)
peak=-
if [ -s "$work/out/peak" ]; then
    peak=$(sort -n "$work/out/peak" | tail -1 | awk '{printf "%d", ($1 == int($1)) ? $1 : int($1) + 1}')
fi
printf '\ntargets: capped4/bare4 >= 0.95, capped4/capped1 >= 3.6, capped4/aria2 >= 0.9, '
printf 'unlimited4/bare4 >= 0.9, unlimited1/bare1 >= 0.9, peak working set <= 64 MiB;\n'
printf 'over TLS: capped tls4/tlsbare4 >= 0.9 and capped tls4/plain4 >= 0.9\n'
printf 'peak working set of this downloader (largest of all its runs): %s MiB\n\n' "$peak"
echo "capped4/capped1=$(ratio "$c4" "$c1") capped4/aria2=$(ratio "$c4" "$ca") unlimited4/bare4=$(ratio "$u4" "$b4") unlimited1/bare1=$(ratio "$u1" "$b1") capped4/bare4=$(ratio "$c4" "$cb4") tls:capped4/bare4=$(ratio "$ct4" "$ctb4") tls:capped4/plain4=$(ratio "$ct4" "$c4") tls:unlimited4/bare4=$(ratio "$ut4" "$utb4") tls:unlimited4/plain4=$(ratio "$ut4" "$u4") peakMiB=$peak"
