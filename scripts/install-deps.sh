#!/usr/bin/env bash
# Installs the Debian packages the native build, the Windows cross-builds and the tests need.
set -euo pipefail

# Wine needs 32-bit packages for the x86 modules.
readonly kForeignArch=i386

readonly kPackages=(
    cmake ninja-build g++ pkg-config
    googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine64 wine32:i386
    xvfb xauth imagemagick
    libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev
    nasm dpkg-dev
    python3-pefile
    llvm-14
    libimage-exiftool-perl
)

kScriptTag=install-deps
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# True when some instance of the package is unpacked and configured (second status letter 'i').
IsInstalled() {
    dpkg-query -W -f='${db:Status-Abbrev}\n' "$1" 2>/dev/null | grep -q '^.i'
}

[[ $(id -u) -eq 0 ]] || Fail "must run as root (installs packages)"
for tool in dpkg dpkg-query apt-get; do
    command -v "$tool" >/dev/null || Fail "$tool not found: needs a Debian system"
done

if dpkg --print-foreign-architectures | grep -qx "$kForeignArch"; then
    Say "architecture $kForeignArch already enabled"
else
    Say "enabling architecture $kForeignArch"
    dpkg --add-architecture "$kForeignArch" || Fail "dpkg --add-architecture $kForeignArch failed"
fi

missing=()
for package in "${kPackages[@]}"; do
    IsInstalled "$package" || missing+=("$package")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    Say "all ${#kPackages[@]} packages present"
    exit 0
fi

Say "missing ${#missing[@]} of ${#kPackages[@]}: ${missing[*]}"
# Always refresh before installing: stale lists make installs fail with 404s.
Say "apt-get update"
RunQuiet AptGet update || Fail "apt-get update failed"

Say "apt-get install (${#missing[@]} packages)"
RunQuiet AptGet install -y --no-install-recommends "${missing[@]}" || Fail "apt-get install failed: ${missing[*]}"

stillMissing=()
for package in "${missing[@]}"; do
    IsInstalled "$package" || stillMissing+=("$package")
done
[[ ${#stillMissing[@]} -eq 0 ]] || Fail "still not installed after apt-get: ${stillMissing[*]}"
Say "done"
