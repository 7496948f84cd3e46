#!/usr/bin/env bash
# Cross-builds static zlib for the Windows filterhost (i686, x86_64) from Debian's own zlib source.
set -euo pipefail

# Same upstream source as the native library, so native and Windows builds write identical PNG streams.
readonly kDevPackage=zlib1g-dev
readonly kDepsRoot=${TALLOW_DEPS:-/opt/tallowmere-deps}
readonly kArches=(i686 x86_64)
readonly kStampName=.source-version
readonly kSourceEntriesFile=/etc/apt/sources.list.d/debian-src.sources
readonly kSourceEntriesListFile=/etc/apt/sources.list.d/debian-src.list

kScriptTag=build-zlib
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ArchDir() { echo "$kDepsRoot/zlib-$1"; }

# The Debian revision only changes packaging and minizip here, so the stamp records the
# upstream version: a rebuilt security revision of the package does not force a rebuild.
UpstreamOf() { echo "${1%-*}"; }

IsArchCurrent() {
    local dir
    dir=$(ArchDir "$1")
    [[ -f "$dir/lib/libz.a" && -f "$dir/include/zlib.h" && -f "$dir/include/zconf.h" ]] || return 1
    [[ -f "$dir/$kStampName" && $(head -n 1 "$dir/$kStampName") == "$(UpstreamOf "$sourceVersion")" ]]
}

HasSourceEntries() {
    grep -Eqs '^[[:space:]]*(Types:.*\bdeb-src\b|deb-src[[:space:]])' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

# Mirrors the configured binary repositories as source repositories.
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

# Source versions with the installed upstream version, the installed one first.
CandidateVersions() {
    echo "$sourceVersion"
    apt-cache showsrc --only-source "$sourcePackage" 2>/dev/null | sed -n 's/^Version: //p' | sort -u |
        while read -r version; do
            [[ $version != "$sourceVersion" && $(UpstreamOf "$version") == "$(UpstreamOf "$sourceVersion")" ]] &&
                echo "$version"
        done
    return 0
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
    local source=$workDir/source-$arch
    dest=$(ArchDir "$arch")
    WriteToolchainFile "$arch" "$processor" "$toolchain"
    # zlib's configure renames the shipped zconf.h inside the source tree: one copy per arch.
    cp -a "$sourceDir" "$source"

    Say "$arch: configure"
    # The explicit install prefix matters: the Windows default (c:/...) breaks configure on Linux.
    RunQuiet cmake -S "$source" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$dest" \
        || Fail "$arch: cmake configure failed"

    Say "$arch: build zlibstatic"
    RunQuiet cmake --build "$build" --target zlibstatic -j 2 || Fail "$arch: build failed"

    # On Windows the static target is named libzlibstatic.a; it installs as the usual libz.a.
    local library=$build/libzlibstatic.a
    [[ -f "$library" ]] || Fail "$arch: build produced no libzlibstatic.a"
    local formats
    formats=$("$arch-w64-mingw32-objdump" -f "$library" | sed -n 's/.*file format //p' | sort -u | tr '\n' ' ')
    [[ $formats == "$objectFormat " ]] || Fail "$arch: libz.a has object formats '$formats', expected $objectFormat"

    mkdir -p "$dest/include" "$dest/lib"
    rm -f "$dest/$kStampName"
    install -m 644 "$source/zlib.h" "$dest/include/zlib.h"
    install -m 644 "$build/zconf.h" "$dest/include/zconf.h"
    # Library and stamp last, so an interrupted run never looks complete.
    install -m 644 "$library" "$dest/lib/libz.a.partial"
    mv -f "$dest/lib/libz.a.partial" "$dest/lib/libz.a"
    printf '%s\n%s\n' "$(UpstreamOf "$sourceVersion")" "$fetchedVersion" >"$dest/$kStampName"
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
        Say "$arch: present ($sourcePackage $(UpstreamOf "$sourceVersion"))"
    else
        needed+=("$arch")
    fi
done
[[ ${#needed[@]} -eq 0 ]] && exit 0

[[ $(id -u) -eq 0 ]] || Fail "must run as root (adds deb-src entries, writes $kDepsRoot)"
for tool in cmake ninja dpkg-source i686-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc-posix; do
    command -v "$tool" >/dev/null || Fail "$tool not found; run scripts/install-deps.sh first"
done

mkdir -p "$kDepsRoot"
# Serialise concurrent runs; the second one finds the work done.
exec 9>"$kDepsRoot/.zlib.lock"
flock -w 1800 9 || Fail "timed out waiting for another build of zlib"
stillNeeded=()
for arch in "${needed[@]}"; do
    IsArchCurrent "$arch" || stillNeeded+=("$arch")
done
[[ ${#stillNeeded[@]} -eq 0 ]] && { Say "built meanwhile by another run"; exit 0; }

workDir=$(mktemp -d "${TMPDIR:-/tmp}/zlib-windows.XXXXXX")
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

# The security archive sometimes lists a source revision whose files its mirror no longer
# serves; another revision of the same upstream version then gives the same library.
fetchedVersion=
while read -r version; do
    Say "fetching source $sourcePackage $version"
    # apt drops to the _apt user for downloads by default, which cannot write into a root-owned temp folder.
    if (cd "$workDir" && RunQuiet AptGet -o APT::Sandbox::User=root source "$sourcePackage=$version"); then
        fetchedVersion=$version
        break
    fi
    Say "could not fetch $sourcePackage $version"
done < <(CandidateVersions)
[[ -n $fetchedVersion ]] || Fail "apt-get source $sourcePackage=$sourceVersion failed (no other revision of it either)"
sourceDir=$(find "$workDir" -mindepth 1 -maxdepth 1 -type d -name "$sourcePackage-*" | head -n 1)
[[ -n $sourceDir && -f $sourceDir/CMakeLists.txt && -f $sourceDir/zlib.h ]] || Fail "unpacked source not found in $workDir"

for arch in "${stillNeeded[@]}"; do
    BuildArch "$arch"
done
Say "done"
