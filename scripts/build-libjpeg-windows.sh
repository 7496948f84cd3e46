#!/usr/bin/env bash
# Cross-builds static libjpeg for the Windows modules (i686, x86_64) from Debian's own libjpeg-turbo source.
set -euo pipefail

# Same source version as the native library, so native and Windows builds write identical JPEG streams.
readonly kDevPackage=libjpeg62-turbo-dev
readonly kDepsRoot=${TALLOW_DEPS:-/opt/tallowmere-deps}
readonly kArches=(i686 x86_64)
readonly kHeaders=(jpeglib.h jmorecfg.h jerror.h)
readonly kStampName=.source-version
readonly kSourceEntriesFile=/etc/apt/sources.list.d/debian-src.sources
readonly kSourceEntriesListFile=/etc/apt/sources.list.d/debian-src.list

kScriptTag=build-libjpeg
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ArchDir() { echo "$kDepsRoot/libjpeg-$1"; }

IsArchCurrent() {
    local dir
    dir=$(ArchDir "$1")
    [[ -f "$dir/lib/libjpeg.a" && -f "$dir/include/jconfig.h" ]] || return 1
    [[ -f "$dir/$kStampName" && $(cat "$dir/$kStampName") == "$sourceVersion" ]]
}

HasSourceEntries() {
    grep -Eqs '^[[:space:]]*(Types:.*\bdeb-src\b|deb-src[[:space:]])' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

# Mirrors the configured binary repositories as source repositories; returns 0 when it added entries.
AddSourceEntries() {
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
        sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$kSourceEntriesFile"
    elif grep -Eqs '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list; then
        sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$kSourceEntriesListFile"
    else
        Fail "no Debian repositories configured to mirror as deb-src"
    fi
}

HasSourceRecord() {
    apt-cache showsrc --only-source "$sourcePackage" 2>/dev/null | grep -qx "Version: $sourceVersion"
}

WriteToolchainFile() {
    local arch=$1 processor=$2 file=$3
    cat >"$file" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $arch-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER $arch-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER $arch-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$arch-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
EOF
}

BuildArch() {
    local arch=$1 processor objectFormat
    case $arch in
        i686) processor=X86 objectFormat=pe-i386 ;;
        x86_64) processor=AMD64 objectFormat=pe-x86-64 ;;
        *) Fail "unknown architecture $arch" ;;
    esac
    local dest build=$workDir/build-$arch toolchain=$workDir/toolchain-$arch.cmake
    dest=$(ArchDir "$arch")
    WriteToolchainFile "$arch" "$processor" "$toolchain"

    Say "$arch: configure"
    # The explicit install prefix matters: the Windows default (c:/...) breaks configure on Linux.
    RunQuiet cmake -S "$sourceDir" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$dest" \
        -DCMAKE_ASM_NASM_COMPILER=nasm \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
        -DWITH_SIMD=ON -DREQUIRE_SIMD=ON \
        || Fail "$arch: cmake configure failed"

    Say "$arch: build jpeg-static"
    RunQuiet cmake --build "$build" --target jpeg-static -j 2 || Fail "$arch: build failed"

    local library=$build/libjpeg.a
    [[ -f "$library" ]] || Fail "$arch: build produced no libjpeg.a"
    # Every member, SIMD objects included, must be of the target's object format.
    local formats
    formats=$("$arch-w64-mingw32-objdump" -f "$library" | sed -n 's/.*file format //p' | sort -u | tr '\n' ' ')
    [[ $formats == "$objectFormat " ]] || Fail "$arch: libjpeg.a has object formats '$formats', expected $objectFormat"

    # Only the static library and its public headers: the rest of the install would need every target built.
    mkdir -p "$dest/include" "$dest/lib"
    rm -f "$dest/$kStampName"
    local header
    for header in "${kHeaders[@]}"; do
        install -m 644 "$sourceDir/$header" "$dest/include/$header"
    done
    install -m 644 "$build/jconfig.h" "$dest/include/jconfig.h"
    # Library and stamp last, so an interrupted run never looks complete.
    install -m 644 "$library" "$dest/lib/libjpeg.a.partial"
    mv -f "$dest/lib/libjpeg.a.partial" "$dest/lib/libjpeg.a"
    echo "$sourceVersion" >"$dest/$kStampName"
    Say "$arch: installed $dest"
}

nativeArch=$(dpkg --print-architecture)
devState=$(dpkg-query -W -f='${db:Status-Abbrev}|${source:Package}|${source:Version}' "$kDevPackage:$nativeArch" 2>/dev/null) \
    || Fail "$kDevPackage is not installed; run scripts/install-deps.sh first"
[[ $devState == ?i* ]] || Fail "$kDevPackage is not installed; run scripts/install-deps.sh first"
IFS='|' read -r _ sourcePackage sourceVersion <<<"$devState"
[[ -n $sourcePackage && -n $sourceVersion ]] || Fail "cannot tell the source version of $kDevPackage"

needed=()
for arch in "${kArches[@]}"; do
    if IsArchCurrent "$arch"; then
        Say "$arch: present ($sourcePackage $sourceVersion)"
    else
        needed+=("$arch")
    fi
done
[[ ${#needed[@]} -eq 0 ]] && exit 0

[[ $(id -u) -eq 0 ]] || Fail "must run as root (adds deb-src entries, writes $kDepsRoot)"
for tool in cmake ninja nasm dpkg-source i686-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc-posix; do
    command -v "$tool" >/dev/null || Fail "$tool not found; run scripts/install-deps.sh first"
done

mkdir -p "$kDepsRoot"
# Serialise concurrent runs; the second one finds the work done.
exec 9>"$kDepsRoot/.libjpeg.lock"
flock -w 1800 9 || Fail "timed out waiting for another build of libjpeg"
stillNeeded=()
for arch in "${needed[@]}"; do
    IsArchCurrent "$arch" || stillNeeded+=("$arch")
done
[[ ${#stillNeeded[@]} -eq 0 ]] && { Say "built meanwhile by another run"; exit 0; }

workDir=$(mktemp -d "${TMPDIR:-/tmp}/libjpeg-windows.XXXXXX")
trap 'rm -rf "$workDir"' EXIT

if ! HasSourceEntries; then
    Say "adding deb-src entries"
    AddSourceEntries
fi
if ! HasSourceRecord; then
    Say "apt-get update (source lists)"
    RunQuiet AptGet update || Fail "apt-get update failed"
    HasSourceRecord || Fail "no source package $sourcePackage $sourceVersion in the configured repositories"
fi

Say "fetching source $sourcePackage $sourceVersion"
# apt drops to the _apt user for downloads by default, which cannot write into a root-owned temp folder.
(cd "$workDir" && RunQuiet AptGet -o APT::Sandbox::User=root source "$sourcePackage=$sourceVersion") \
    || Fail "apt-get source $sourcePackage=$sourceVersion failed"
sourceDir=$(find "$workDir" -mindepth 1 -maxdepth 1 -type d -name "$sourcePackage-*" | head -n 1)
[[ -n $sourceDir && -f $sourceDir/CMakeLists.txt ]] || Fail "unpacked source not found in $workDir"

for arch in "${stillNeeded[@]}"; do
    BuildArch "$arch"
done
Say "done"
