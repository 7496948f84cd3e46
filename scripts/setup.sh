#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing: packages first, then the Windows libjpeg and zlib builds.
set -euo pipefail

scriptDir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

RunStep() {
    local name=$1
    shift
    if ! "$@"; then
        echo "setup: FAILED at step '$name'; see the messages above" >&2
        exit 1
    fi
}

RunStep "install packages" "$scriptDir/install-deps.sh"
RunStep "build libjpeg for Windows" "$scriptDir/build-libjpeg-windows.sh"
RunStep "build zlib for Windows" "$scriptDir/build-zlib-windows.sh"
echo "setup: ready"
