#!/bin/bash
# Install benchmark: unpacked releases of many files (in folders of 200), installed by the
# engine's own pieces under Wine and then updated over themselves, per phase, beside a plain
# CopyFileW loop (into a fresh folder, and over the same files again) and a plain read-and-hash
# of the same tree, all in the same run. Prints the medians, one table, and a last line of
# ratios per size.
#   bench/install/run.sh            the default sizes (100, 1000, 10000 files): about 5 minutes
#   SIZES="100 1000 10000 30000" bench/install/run.sh
#                                   all four (30 000 files: about 3 more minutes per round)
#   REPS=N                          rounds of each (default 3; medians)
#   INSTALL_BENCH_DRIVER=EXE        another build of the driver (an earlier engine)
# Builds what it needs into build/bench-install, makes its own Wine prefix, and removes it and
# every file when it ends. Not part of the test run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
reps=${REPS:-3}
sizes=${SIZES:-100 1000 10000}
declare -A bytes=([100]=1048576 [1000]=65536 [10000]=4096 [30000]=1024)
declare -A label=([100]="100 x 1 MiB" [1000]="1 000 x 64 KiB" [10000]="10 000 x 4 KiB" [30000]="30 000 x 1 KiB")
for n in $sizes; do
    [ -n "${bytes[$n]:-}" ] || { echo "sizes are 100, 1000, 10000 and 30000" >&2; exit 2; }
done

echo "building the benchmark driver..." >&2
build=$root/build/bench-install
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target install_bench >/dev/null
# INSTALL_BENCH_DRIVER: another build of the driver (an earlier engine, for a before-and-after).
driver=${INSTALL_BENCH_DRIVER:-$build/install_bench.exe}

work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-install-bench.XXXXXX")
export WINEPREFIX=$work/prefix HOME=$work/home WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
cleanup() {
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home" "$work/out"
echo "making the Wine prefix..." >&2
wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
drive_c=$WINEPREFIX/drive_c
install_root=$drive_c/Quendrel/Tavro

# Runs the Windows driver; its output goes to a file (Wine's own processes would hold a pipe).
drive() {
    wine "$driver" "$@" </dev/null >"$work/drive.txt" 2>&1 || {
        cat "$work/drive.txt" >&2
        return 1
    }
    tr -d '\r' <"$work/drive.txt"
}
field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p"; }
record() { echo "$3" >>"$work/out/$1-$2"; }
loads=()

for n in $sizes; do
    echo "making the release of ${label[$n]}..." >&2
    release=$drive_c/BenchRelease$n
    "$here/make-release.py" "$release" "$n" "${bytes[$n]}"
    for rep in $(seq 1 "$reps"); do
        echo "${label[$n]}: round $rep of $reps (load $(cut -d' ' -f1 /proc/loadavg))..." >&2
        loads+=("$(cut -d' ' -f1 /proc/loadavg)")
        rm -rf "$drive_c/Quendrel" "$drive_c/BenchPlain"
        sync
        out=$(drive install "C:\\BenchRelease$n")
        for phase in stage copy record removal whole posts peakMiB; do
            record "$n" "install-$phase" "$(echo "$out" | field $phase)"
        done
        if [ "$rep" = 1 ]; then
            diff -rq --exclude=TavroInstall.record "$release" "$install_root" >/dev/null ||
                { echo "the installed tree differs from the release" >&2; exit 1; }
            [ "$(ls "$drive_c/ProgramData" | grep -c TavroInstall)" = 0 ] ||
                { echo "the protected folder was left behind" >&2; exit 1; }
        fi
        mkdir -p "$install_root/Update"
        cp -r "$release" "$install_root/Update/Unpacked"
        sync
        out=$(drive update)
        for phase in copy record backups posts peakMiB; do
            record "$n" "update-$phase" "$(echo "$out" | field $phase)"
        done
        out=$(drive plaincopy "C:\\BenchRelease$n" 'C:\BenchPlain')
        record "$n" plaincopy "$(echo "$out" | field seconds)"
        out=$(drive plaincopy "C:\\BenchRelease$n" 'C:\BenchPlain')
        record "$n" plainupdate "$(echo "$out" | field seconds)"
        out=$(drive readhash 'C:\BenchPlain')
        record "$n" readhash "$(echo "$out" | field seconds)"
        out=$(drive plainremove 'C:\BenchPlain')
        record "$n" plainremove "$(echo "$out" | field seconds)"
        # The same tree once more, written by a loop that asks where each file is, and removed by
        # the engine's removal: what the checks cost beside the plain loops.
        out=$(drive checkedcopy "C:\BenchRelease$n" 'C:\BenchPlain')
        record "$n" checkedcopy "$(echo "$out" | field seconds)"
        out=$(drive engineremove 'C:\BenchPlain')
        record "$n" engineremove "$(echo "$out" | field seconds)"
    done
    rm -rf "$release" "$drive_c/Quendrel" "$drive_c/BenchPlain"
done

median() { sort -n "$work/out/$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ratio() { echo "$1 $2" | awk '{printf "%.2f", $1 / $2}'; }
rate() { echo "$1 $2" | awk '{printf "%.0f", $1 / $2}'; }

printf '\nMedian of %d rounds, seconds (Wine 8, load during the rounds: %s)\n\n' "$reps" "$(echo "${loads[@]}" | tr ' ' ,)"
printf '%-46s' "phase"
for n in $sizes; do printf '%16s' "${label[$n]}"; done
printf '\n'
row() {
    printf '%-46s' "$1"
    for n in $sizes; do printf '%16s' "$(median "$n-$2")"; done
    printf '\n'
}
row "install: staging into the protected folder" install-stage
row "install: staging copy beside the root" install-copy
row "install: commit and record" install-record
row "install: removing the protected folder" install-removal
row "whole install" install-whole
row "update: staging copy beside the root" update-copy
row "update: commit and record" update-record
row "update: the replaced files removed" update-backups
row "plain CopyFileW loop, fresh folder" plaincopy
row "plain CopyFileW loop, over the same files" plainupdate
row "plain read and SHA-256 of every file" readhash
row "plain DeleteFileW walk removing that folder" plainremove
row "own loop asking where each file is (2 calls)" checkedcopy
row "the engine's removal of that copy" engineremove
printf '%-46s' "whole install, files/s"
for n in $sizes; do printf '%16s' "$(rate "$n" "$(median "$n-install-whole")")"; done
printf '\n'
row "progress messages posted, install" install-posts
row "progress messages posted, update" update-posts
row "peak working set, install (MiB)" install-peakMiB
row "peak working set, update (MiB)" update-peakMiB

printf '\nseconds of each round, in order:\n'
for n in $sizes; do
    for name in install-copy install-record install-removal update-copy update-record update-backups plaincopy plainupdate readhash plainremove checkedcopy engineremove; do
        printf '  %-6s %-16s %s\n' "$n" "$name" "$(tr '\n' ' ' <"$work/out/$n-$name")"
    done
done
printf '\ntargets at 10 000 and 30 000 files: copy/plainCopy >= 0.8 and update/plainCopy >= 0.8 (speed,\n'
printf 'plain time over ours; the update is staging + commit), record/copy (the install'"'"'s commit),\nupdateCommit/copy and updateBackups/copy <= 0.3 (time); memory flat\n'
line=""
for n in $sizes; do
    copy=$(median "$n-install-copy")
    line+="$n: copy/plainCopy=$(ratio "$(median "$n-plaincopy")" "$copy")"
    line+=" record/readHash=$(ratio "$(median "$n-install-record")" "$(median "$n-readhash")")"
    line+=" record/copy=$(ratio "$(median "$n-install-record")" "$copy")"
    line+=" removal/copy=$(ratio "$(median "$n-install-removal")" "$copy")"
    line+=" plainRemoval/plainCopy=$(ratio "$(median "$n-plainremove")" "$(median "$n-plaincopy")")"
    line+=" copy/checkedCopy=$(ratio "$(median "$n-checkedcopy")" "$copy")"
    line+=" engineRemoval/plainRemoval=$(ratio "$(median "$n-engineremove")" "$(median "$n-plainremove")")"
    line+=" update/plainCopy=$(ratio "$(median "$n-plainupdate")" "$(echo "$(median "$n-update-copy") $(median "$n-update-record")" | awk '{print $1 + $2}')")"
    line+=" updateCommit/copy=$(ratio "$(median "$n-update-record")" "$(median "$n-update-copy")")"
    line+=" updateBackups/copy=$(ratio "$(median "$n-update-backups")" "$(median "$n-update-copy")")"
    line+=" files/s=$(rate "$n" "$(median "$n-install-whole")")"
    line+=" peakMiB=$(median "$n-install-peakMiB"); "
done
echo "$line load=$(cut -d' ' -f1-3 /proc/loadavg | tr ' ' /)"
