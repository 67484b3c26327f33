#!/usr/bin/env bash
# Runs every test of both builds through ctest, in the private prefix
# build/wineprefix, on an Xvfb display that lives as long as the run: the x64
# build under wine64, then the x86 build under the 32-bit loader. Where this
# machine cannot run 32-bit programs, one line says so and the x86 tests are
# skipped. FORGE_BUILD_DIR (one build folder alone) and FORGE_PREFIX choose
# another build folder and prefix; further arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
if [ -n "${FORGE_BUILD_DIR:-}" ]; then
    build_dirs=("$FORGE_BUILD_DIR")
else
    build_dirs=("$root/build/x64" "$root/build/x86")
fi

begin_run "${FORGE_PREFIX:-$root/build/wineprefix}"

status=0
for dir in "${build_dirs[@]}"; do
    if grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-i686' "$dir/CMakeCache.txt" 2>/dev/null; then
        if ! reason=$(can_run_32bit); then
            echo "x86 tests skipped: $reason"
            continue
        fi
        echo "== x86 build: $dir"
    else
        echo "== x64 build: $dir"
    fi
    ctest --test-dir "$dir" --output-on-failure "$@" || status=1
done
exit $status
