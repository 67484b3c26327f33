#!/usr/bin/env bash
# Runs every test of the x64 build through ctest under wine64, in the private
# prefix build/wineprefix, on an Xvfb display that lives as long as the run.
# FORGE_BUILD_DIR and FORGE_PREFIX choose another build folder and prefix;
# further arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
build_dir=${FORGE_BUILD_DIR:-$root/build/x64}

make_prefix "${FORGE_PREFIX:-$root/build/wineprefix}"
start_display
trap 'stop_wine; stop_display' EXIT
# One server and one set of Wine's own services for every test program, so
# each starts faster. The services are started here with their output going
# nowhere: started by a test, they would keep its output pipe open and ctest
# would wait for them.
"$WINESERVER" -p
"$WINE" cmd.exe /c exit >/dev/null 2>&1 </dev/null
ctest --test-dir "$build_dir" --output-on-failure "$@"
