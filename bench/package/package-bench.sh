#!/usr/bin/env bash
# What packaging adds to make build: tools/package.sh on programs already
# built, without a certificate and with a throwaway one (made here), each the
# median of ROUNDS runs (5) into a scratch dist folder.
#   bench/package/package-bench.sh [X64_BIN [X86_BIN]]   (build/x64/bin, build/x86/bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
x64_bin=${1:-$root/build/x64/bin}
x86_bin=${2:-$root/build/x86/bin}
rounds=${ROUNDS:-5}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Kelvara Bench Signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$tmp/key.pem" -out "$tmp/cert.pem" >/dev/null 2>&1
PASSWORD=bench openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" -out "$tmp/cert.pfx" -passout env:PASSWORD

# median_ms COMMAND...: the median wall time of the command's runs, in milliseconds.
median_ms() {
    local times=() i start
    for i in $(seq "$rounds"); do
        rm -rf "$tmp/dist"
        start=$(date +%s%N)
        "$@" "$tmp/dist" "$x64_bin" "$x86_bin" >/dev/null
        times+=($((($(date +%s%N) - start) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

unsigned=$(median_ms env -u SIGN_PFX "$root/tools/package.sh")
signed=$(median_ms env SIGN_PFX="$tmp/cert.pfx" SIGN_PASSWORD=bench "$root/tools/package.sh")
echo "packages and checksums, unsigned: $unsigned ms"
echo "packages and checksums, signed:   $signed ms (signing five files: $((signed - unsigned)) ms)"
echo "aim: the signed run at most 10000 ms"
