#!/usr/bin/env bash
# Runs every benchmark of the x64 build (the *_bench.exe programs built from
# bench/) under wine64, in the private prefix build/wineprefix, on an Xvfb
# display that lives as long as the run, and prints each one's figures.
# FORGE_BUILD_DIR and FORGE_PREFIX choose another build folder and prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
build_dir=${FORGE_BUILD_DIR:-$root/build/x64}

shopt -s nullglob
benches=("$build_dir"/bin/*_bench.exe)
if [ ${#benches[@]} -eq 0 ]; then
    echo "No benchmark in $build_dir/bin: build it first (make x64)" >&2
    exit 1
fi

begin_run "${FORGE_PREFIX:-$root/build/wineprefix}"
status=0
for bench in "${benches[@]}"; do
    echo "== $(basename "$bench" .exe)"
    "$WINE" "$bench" </dev/null || { echo "$(basename "$bench") failed ($?)" >&2; status=1; }
done
exit $status
