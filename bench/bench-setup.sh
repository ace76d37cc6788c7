# Shared set-up of the benchmarks (sourced by bench/*/run.sh, which set here and root first).
# Builds the Windows driver, makes a work folder with its own Wine prefix and a random file of
# size bytes served by a local nginx (loopback only), and removes all of it when the script ends.
# Sets reps (REPS, default 5), size, driver (BENCH_DRIVER: a driver built elsewhere), work, port
# and the Wine environment; defines drive.

reps=${REPS:-5}
size=268435456
if [ "$reps" -lt 3 ]; then
    echo "REPS must be at least 3 (the figures are medians)" >&2
    exit 2
fi

# bench_build BUILD_FOLDER TARGET: the driver, built at Release like the presets.
bench_build() {
    if [ -n "${BENCH_DRIVER:-}" ]; then  # another build's driver, for a before-and-after
        driver=$BENCH_DRIVER
        return
    fi
    echo "building the benchmark driver..." >&2
    if [ ! -f "$1/build.ninja" ]; then
        cmake -S "$here" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" >/dev/null
    fi
    cmake --build "$1" --target "$2" >/dev/null
    driver=$1/$2.exe
}

# bench_prefix_and_server NAME: the work folder, the file, the prefix and the server.
bench_prefix_and_server() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/tavro-$1-bench.XXXXXX")
    chmod 755 "$work"  # nginx's workers run as another user and must read the file
    export WINEPREFIX=$work/prefix HOME=$work/home WINEDEBUG=-all
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
    trap bench_cleanup EXIT

    echo "making the 256 MiB file, the Wine prefix and the server..." >&2
    mkdir -p "$work/www" "$work/home" "$work/out"
    head -c "$size" /dev/urandom >"$work/www/package.zip"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$root/bench/download/nginx.sh" start "$work/nginx" "$port" "$work/www"
}

bench_cleanup() {
    "$root/bench/download/nginx.sh" stop "$work/nginx" || true
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$work"
}

# Runs the Windows driver; its output goes to a file (Wine's own processes would hold a pipe).
drive() {
    wine "$driver" "$@" </dev/null >"$work/drive.txt" 2>&1 || {
        cat "$work/drive.txt" >&2
        return 1
    }
    tr -d '\r' <"$work/drive.txt"
}
