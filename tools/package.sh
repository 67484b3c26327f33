#!/usr/bin/env bash
# Makes what dist/ ships: the three programs, signed when a certificate is
# given, the Windows Installer package of each architecture (from
# packaging/ForgeSupport.wxs, signed the same way) and SHA256SUMS over every
# file in dist/.
#
#   tools/package.sh [DIST [X64_BIN [X86_BIN]]]
#       DIST (dist/) gets ForgeSupport64.exe from X64_BIN (build/x64/bin) and
#       ForgeSupport.exe and ForgeSupport.com from X86_BIN (build/x86/bin),
#       copied anew on every run, so that no program is signed twice.
#   tools/package.sh --product-code VERSION x64|x86
#       prints the product code of that version's package.
#
# Signing, from the environment (the Makefile hands its variables on):
#   SIGN_PFX            the certificate with its private key (PKCS#12)
#   SIGN_PASSWORD       its password: it reaches osslsigncode through a file
#                       only its owner can read, never through a command line
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service (optional)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The product code of a version and architecture: a name-based UUID (version
# 5), so that a package built again from the same version has the code that
# an Intune detection rule already names, and every new version a new one.
product_code() {
    local namespace=F0E14994AC1243C0AB238A518BB444E1 hash
    hash=$({ printf "$(sed 's/../\\x&/g' <<<"$namespace")"; printf '%s' "Kelvara Forge Support $1 $2"; } |
           sha1sum | tr 'a-f' 'A-F')
    local variant=$(printf '%X' $(((0x${hash:16:1} & 3) | 8)))
    printf '%s-%s-5%s-%s%s-%s\n' "${hash:0:8}" "${hash:8:4}" "${hash:13:3}" "$variant" "${hash:17:3}" "${hash:20:12}"
}

if [ "${1:-}" = --product-code ]; then
    [ $# -eq 3 ] && [[ $3 =~ ^(x64|x86)$ ]] || { echo "usage: $0 --product-code VERSION x64|x86" >&2; exit 64; }
    product_code "$2" "$3"
    exit 0
fi

dist=${1:-$root/dist}
x64_bin=${2:-$root/build/x64/bin}
x86_bin=${3:-$root/build/x86/bin}

# The file version of a program, read from its VS_FIXEDFILEINFO (the
# signature 0xFEEF04BD and structure version 1.0, then the version words).
file_version() {
    local offset words
    offset=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE\x00\x00\x01\x00' "$1" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { echo "$1 has no version resource" >&2; return 1; }
    read -r -a words < <(od -An -tu2 -j $((offset + 8)) -N 8 "$1")
    echo "${words[1]}.${words[0]}.${words[3]}.${words[2]}"
}

programs=("$x86_bin/ForgeSupport.exe" "$x86_bin/ForgeSupport.com" "$x64_bin/ForgeSupport64.exe")
for program in "${programs[@]}"; do
    [ -f "$program" ] || { echo "$program is missing: build both programs first (make both)" >&2; exit 1; }
done
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
rm -f "$dist"/ForgeSupport-*.msi "$dist/SHA256SUMS"
cp -f "${programs[@]}" "$dist/"

version=$(file_version "$dist/ForgeSupport.exe")
for name in ForgeSupport.com ForgeSupport64.exe; do
    other=$(file_version "$dist/$name")
    [ "$other" = "$version" ] || { echo "$name is version $other, ForgeSupport.exe $version: build both anew" >&2; exit 1; }
done
# Windows Installer compares the first three fields only, each within its limits.
IFS=. read -r major minor build _ <<<"$version"
if [ "$major" -gt 255 ] || [ "$minor" -gt 255 ] || [ "$build" -gt 65535 ]; then
    echo "version $version exceeds what Windows Installer accepts (255.255.65535)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -n "${SIGN_PFX:-}" ]; then
    [ -r "$SIGN_PFX" ] || { echo "SIGN_PFX: cannot read the certificate file $SIGN_PFX" >&2; exit 1; }
    # mktemp makes the file readable by its owner alone. osslsigncode reads
    # no empty password from a file: a certificate without one gets none.
    password=()
    if [ -n "${SIGN_PASSWORD:-}" ]; then
        password=(-readpass "$(mktemp "$work/pass.XXXXXX")")
        printf '%s' "$SIGN_PASSWORD" >"${password[1]}"
    fi
    # Nor does it reach the environment of the programs this script starts.
    unset SIGN_PASSWORD
    timestamp=()
    [ -n "${SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$SIGN_TIMESTAMP_URL")
fi

sign() {
    [ -n "${SIGN_PFX:-}" ] || return 0
    local file=$1
    rm -f "$work/signed"
    if ! osslsigncode sign -pkcs12 "$SIGN_PFX" "${password[@]}" -h sha256 \
            -n "Kelvara Forge Support" "${timestamp[@]}" -in "$file" -out "$work/signed" >/dev/null; then
        echo "Signing $(basename "$file") failed" >&2
        return 1
    fi
    chmod --reference="$file" "$work/signed"
    mv -f "$work/signed" "$file"
    echo "Signed $(basename "$file")"
}

if [ -z "${SIGN_PFX:-}" ]; then
    echo "Unsigned build: no SIGN_PFX given, the programs and packages are not signed."
fi
for name in ForgeSupport.exe ForgeSupport.com ForgeSupport64.exe; do
    sign "$dist/$name"
done

# wixl takes its sources by relative name only: a folder of links to them.
mkdir "$work/stage"
for name in ForgeSupport.exe ForgeSupport.com ForgeSupport64.exe; do
    ln -s "$dist/$name" "$work/stage/$name"
done
ln -s "$root/res/icons/128-sheet.ico" "$work/stage/ForgeSupport.ico"
for arch in x64 x86; do
    msi=ForgeSupport-$version-$arch.msi
    code=$(product_code "$version" "$arch")
    (cd "$work/stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D ProductCode="$code" \
        -D Icon=ForgeSupport.ico -o "$work/$msi" "$root/packaging/ForgeSupport.wxs")
    mv -f "$work/$msi" "$dist/$msi"
    sign "$dist/$msi"
    echo "$msi: product code {$code}"
done

(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
    xargs -r -d '\n' sha256sum --) >"$work/SHA256SUMS"
mv -f "$work/SHA256SUMS" "$dist/SHA256SUMS"
echo "Wrote $dist/SHA256SUMS"
