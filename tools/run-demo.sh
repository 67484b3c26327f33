#!/usr/bin/env bash
# Prepares the demo installation in the private prefix build/demo/wineprefix
# and shows the utility on it. With a display, the utility opens for the user
# and the script ends when it is closed. Without one, the utility runs under
# Xvfb, a driver presses through its pages, and a PNG picture of each page
# is written to build/demo/ and docs/.
# FORGE_BUILD_DIR chooses another build folder (default build/x64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
build_dir=${FORGE_BUILD_DIR:-$root/build/x64}
demo_dir=$root/build/demo
utility=$root/dist/ForgeSupport64.exe
[ -f "$utility" ] || utility=$build_dir/bin/ForgeSupport64.exe
demo_root='C:\ForgeDemo'
project="$demo_root"'\Kelvara\Forge 8.0\Projects\standard.kvp'

# A Unix path as the Windows programs see it, through Wine's Z: drive.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

for program in ForgeDemoSetup.exe ForgeDemoDriver.exe; do
    if [ ! -f "$build_dir/bin/$program" ]; then
        echo "$build_dir/bin/$program is missing: build with FORGE_TESTS=ON first" >&2
        exit 1
    fi
done

mkdir -p "$demo_dir"
make_prefix "$demo_dir/wineprefix"
headless=0
if [ -z "${DISPLAY:-}" ]; then
    start_display
    headless=1
fi
trap 'stop_wine; stop_display' EXIT

echo "Preparing the demo installation in $demo_root ..."
"$WINE" "$build_dir/bin/ForgeDemoSetup.exe" /install "$demo_root"

if [ "$headless" = 0 ]; then
    echo "Opening the utility; close it to end the demo."
    "$WINE" "$utility"
    exit 0
fi

shots=$demo_dir/shots
rm -rf "$shots"
mkdir -p "$shots" "$root/docs"
echo "Driving the utility's pages under Xvfb ..."
"$WINE" "$build_dir/bin/ForgeDemoDriver.exe" "$(windows_path "$utility")" "$(windows_path "$shots")" "$project"
for page in general comtester details stop projecttester; do
    # -strip: no time stamps in the file, so an unchanged picture stays unchanged.
    convert "$shots/$page.bmp" -strip "$demo_dir/$page.png"
    cp "$demo_dir/$page.png" "$root/docs/$page.png"
    echo "Wrote docs/$page.png and build/demo/$page.png"
done

# The COM tester once more at 144 DPI (150 %), as a user with a larger font
# setting sees it. Wine takes the DPI from the registry when a program starts.
echo "Driving the utility again at 144 DPI ..."
shots144=$demo_dir/shots-144dpi
rm -rf "$shots144"
mkdir -p "$shots144"
set_dpi() {
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    "$WINE" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
set_dpi 144
"$WINE" "$build_dir/bin/ForgeDemoDriver.exe" "$(windows_path "$utility")" "$(windows_path "$shots144")" "$project" || true
set_dpi 96
convert "$shots144/comtester.bmp" -strip "$demo_dir/comtester-144dpi.png"
cp "$demo_dir/comtester-144dpi.png" "$root/docs/comtester-144dpi.png"
echo "Wrote docs/comtester-144dpi.png and build/demo/comtester-144dpi.png"
