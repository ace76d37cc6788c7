#!/bin/sh
# Builds everything and runs every test, on a fresh Debian 12 machine as well:
#   1. installs the Debian packages the project needs,
#   2. cross-builds the program and its tests for Windows and runs them under Wine (ctest makes
#      and removes its own Wine prefix), after compiling the product code a second time with
#      clang for the same target (compile only: its link against MinGW's libstdc++ is not clean),
#   3. builds the Win32-free code natively and runs its tests under AddressSanitizer and
#      UndefinedBehaviorSanitizer, plus a bounded fuzzing run,
#   4. runs the same native tests under ThreadSanitizer.
set -eu
cd "$(dirname "$0")"

tools/install-deps.sh

jobs=$(nproc)

cmake --preset mingw
cmake --build --preset mingw -j "$jobs"
cmake --preset mingw-clang
cmake --build --preset mingw-clang -j "$jobs"
ctest --preset mingw -j "$jobs"

cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

cmake --preset native-tsan
cmake --build --preset native-tsan -j "$jobs"
ctest --preset native-tsan -j "$jobs"
