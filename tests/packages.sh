#!/usr/bin/env bash
# What dist/ ships, as make build leaves it (FORGE_DIST names another folder):
# its checksums; a build signed with a throwaway certificate, which
# osslsigncode accepts, and one without; both packages installed under Wine in
# the test run's prefix, installed again, and removed, leaving the prefix as
# it was. Argument: the x64 build's program folder, whose three programs the
# signed and unsigned builds take.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
# Wine would copy every shortcut made into the desktop menus of the user's home.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

bin=${1:?the x64 build\'s bin folder}
dist=${FORGE_DIST:-$root/dist}
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

shopt -s nullglob
packages=("$dist"/ForgeSupport-*-x64.msi)
if [ ${#packages[@]} -ne 1 ] || [ -z "${WINEPREFIX:-}" ]; then
    echo "FAIL: needs one x64 package in $dist (make build) and a run through tools/run-tests.sh"
    exit 1
fi
version=${packages[0]##*/ForgeSupport-}
version=${version%-x64.msi}
programs=(ForgeSupport.exe ForgeSupport.com ForgeSupport64.exe)
shipped=("${programs[@]}" "ForgeSupport-$version-x64.msi" "ForgeSupport-$version-x86.msi")
code64=$("$root/tools/package.sh" --product-code "$version" x64)
code86=$("$root/tools/package.sh" --product-code "$version" x86)
tmp=$(mktemp -d)
drive=$WINEPREFIX/drive_c
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

windows_path() { local p=${1//\//\\}; echo "Z:$p"; }
# Whatever a failed check left installed goes, so the prefix ends as it began.
installed_codes=()
cleanup() {
    local code
    for code in "${installed_codes[@]}"; do "$WINE" msiexec /x "{$code}" /qn >/dev/null 2>&1; done
    rm -rf "$tmp"
}
trap cleanup EXIT

# --- checksums: every file of dist/ but SHA256SUMS, each as it is
(cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS in $dist"
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$dist/SHA256SUMS" | LC_ALL=C sort)
present=$(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort)
[ "$listed" = "$present" ] || fail "SHA256SUMS lists every file of dist/ and no other"

# --- signing with a throwaway code-signing certificate
password="Throwaway-$$-$RANDOM-pass"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Kelvara Test Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$tmp/key.pem" -out "$tmp/cert.pem" >/dev/null 2>&1
PASSWORD=$password openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" \
    -out "$tmp/cert.pfx" -passout env:PASSWORD || fail "openssl made no certificate"
mkdir "$tmp/scratch"
TMPDIR=$tmp/scratch SIGN_PFX=$tmp/cert.pfx SIGN_PASSWORD=$password SIGN_TIMESTAMP_URL= \
    "$root/tools/package.sh" "$tmp/signed" "$bin" "$bin" >"$tmp/signed.log" 2>&1 ||
    { cat "$tmp/signed.log"; fail "the signed build failed"; }
grep -qF -- "$password" "$tmp/signed.log" && fail "the password appears in the build's output"
[ -z "$(ls -A "$tmp/scratch")" ] || fail "the signed build left files in its temporary folder"
for name in "${shipped[@]}"; do
    osslsigncode verify -CAfile "$tmp/cert.pem" -in "$tmp/signed/$name" >"$tmp/verify.log" 2>&1 ||
        { cat "$tmp/verify.log"; fail "the signature of $name does not verify"; }
done
(cd "$tmp/signed" && sha256sum --strict --quiet -c SHA256SUMS) || fail "sha256sum -c of the signed build"

env -u SIGN_PFX -u SIGN_PASSWORD -u SIGN_TIMESTAMP_URL \
    "$root/tools/package.sh" "$tmp/unsigned" "$bin" "$bin" >"$tmp/unsigned.log" 2>&1 || fail "the unsigned build failed"
[ "$(grep -c 'Unsigned build' "$tmp/unsigned.log")" = 1 ] || fail "an unsigned build says so once"
osslsigncode verify -CAfile "$tmp/cert.pem" -in "$tmp/unsigned/ForgeSupport-$version-x64.msi" >/dev/null 2>&1 &&
    fail "an unsigned package passes verification"

# --- installing under Wine
# What installing may touch: the program folders, the Start menus (Windows
# puts a per-machine package's shortcut into the common one, Wine's installer
# into the user's), the installer's cache (by what it holds: the first install
# of a fresh prefix makes the folder), the Uninstall entries and products.
state() {
    (cd "$drive" && find "Program Files" "Program Files (x86)" "ProgramData/Microsoft/Windows/Start Menu" \
        users/*/AppData/Roaming/Microsoft/Windows/"Start Menu" windows/Installer 2>/dev/null |
        grep -vx 'windows/Installer' | LC_ALL=C sort)
    local view
    for view in 64 32; do "$WINE" reg query "$uninstall" /reg:$view 2>/dev/null; done
    # The installer's product keys by their subkeys: the first install of a
    # fresh prefix makes the two keys, which stay (empty) after the last removal.
    local key
    for key in Products UpgradeCodes; do
        "$WINE" reg query "HKLM\\Software\\Classes\\Installer\\$key" 2>/dev/null | tr -d '\r' | grep -i '^HKEY_' | tail -n +2
    done
}
shortcut() {
    find "$drive/ProgramData/Microsoft/Windows/Start Menu" "$drive"/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu" \
        -name 'Kelvara Forge Support.lnk' 2>/dev/null
}
entry_value() {  # key view value
    "$WINE" reg query "$uninstall\\{$1}" /v "$3" /reg:$2 2>/dev/null | sed -n "s/^ *$3 *REG_SZ *//p" | tr -d '\r'
}
# install_package PACKAGE FOLDER CODE VIEW PROGRAMS...: installs it and checks what landed.
install_package() {
    local package=$1 folder=$2 code=$3 view=$4 name
    shift 4
    installed_codes+=("$code")
    "$WINE" msiexec /i "$(windows_path "$package")" /qn || { fail "msiexec /i ${package##*/} exited $?"; return 1; }
    for name in "$@"; do
        cmp -s "$folder/$name" "$(dirname "$package")/$name" || fail "${package##*/} installs $name as shipped"
    done
    [ "$(ls "$folder" | wc -l)" = $# ] || fail "${package##*/} installs $# files: $(ls "$folder" | tr '\n' ' ')"
    [ "$(entry_value "$code" "$view" DisplayName)" = "Kelvara Forge Support" ] || fail "the Uninstall entry's name"
    [ "$(entry_value "$code" "$view" Publisher)" = Kelvara ] || fail "the Uninstall entry's publisher"
    [ "$(entry_value "$code" "$view" DisplayVersion)" = "$version" ] || fail "the Uninstall entry's version"
    [ -n "$(shortcut)" ] || fail "${package##*/} makes no Start menu shortcut"
}
before=$(state)

pf="$drive/Program Files/Kelvara/Forge Support"
if install_package "${packages[0]}" "$pf" "$code64" 64 "${programs[@]}"; then
    if reason=$(can_run_32bit); then
        out=$("$WINE" 'C:\Program Files\Kelvara\Forge Support\ForgeSupport.com' /check </dev/null)
        rc=$?
        { [ $rc = 0 ] || [ $rc = 1 ]; } && [[ $out == '{"status":'* ]] ||
            fail "the installed ForgeSupport.com /check answered $rc: $out"
    else
        echo "The installed ForgeSupport.com /check not run: $reason"
    fi
    installed=$(state; cd "$pf" && sha256sum -- * && stat -c '%n %Y' -- *)
    "$WINE" msiexec /i "$(windows_path "${packages[0]}")" /qn || fail "installing the same package again exited $?"
    [ "$(state; cd "$pf" && sha256sum -- * && stat -c '%n %Y' -- *)" = "$installed" ] ||
        fail "installing the same package again changed the installation"
    "$WINE" msiexec /x "$(windows_path "${packages[0]}")" /qn || fail "msiexec /x exited $?"
    [ "$(state)" = "$before" ] || fail "the x64 package left something behind: $(diff <(echo "$before") <(state))"
fi

# The signed x86 package: its programs were signed before they went in.
pf86="$drive/Program Files (x86)/Kelvara/Forge Support"
if install_package "$tmp/signed/ForgeSupport-$version-x86.msi" "$pf86" "$code86" 32 ForgeSupport.exe ForgeSupport.com; then
    osslsigncode verify -CAfile "$tmp/cert.pem" -in "$pf86/ForgeSupport.exe" >/dev/null 2>&1 ||
        fail "the x86 package installs an unsigned ForgeSupport.exe"
    "$WINE" msiexec /x "{$code86}" /qn || fail "msiexec /x of the x86 package exited $?"
    [ "$(state)" = "$before" ] || fail "the x86 package left something behind: $(diff <(echo "$before") <(state))"
fi

[ $failed = 0 ] && echo "Packages: every check passed" || echo "Packages: $failed checks failed"
exit $((failed > 0))
