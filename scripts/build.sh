#!/usr/bin/env bash
# Configures and builds the requested flavours under build/:
#   native  Linux release build: modules as .so, the filterhost tool, unit tests
#   asan    Linux build under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    the threaded code's tests under ThreadSanitizer
#   win32   Windows x86 modules (.8bf) and test programs, cross-built
#   win64   Windows x86-64 modules (.8bf) and test programs, cross-built
# With no argument it builds native, win32 and win64.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${TALLOW_JOBS:-$(nproc)}"
deps="${TALLOW_DEPS:-/opt/tallowmere-deps}"

# The thread-sanitizer build covers the code that runs threads: the pool, the pyramid
# and both products rendering through the real modules.
TSAN_TARGETS="test_worker_pool test_tiled_image test_render test_grain_wreck"

configure_and_build() {
  local name="$1"; shift
  local dir="$root/build/$name"
  local targets=()
  [ "$name" = tsan ] && targets=(--target $TSAN_TARGETS)
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$root/build/$name.configure.log" 2>&1 || {
      cat "$root/build/$name.configure.log"; echo "build.sh: configuring $name failed" >&2; exit 1; }
  fi
  echo "== building $name"
  cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$root/build/$name.build.log" 2>&1 || {
    grep -E -B2 -A8 'error|FAILED' "$root/build/$name.build.log" | head -60
    echo "build.sh: building $name failed (full log: build/$name.build.log)" >&2; exit 1; }
}

flavours=("$@")
[ ${#flavours[@]} -eq 0 ] && flavours=(native win32 win64)
mkdir -p "$root/build"
for flavour in "${flavours[@]}"; do
  case "$flavour" in
    native) configure_and_build native -DCMAKE_BUILD_TYPE=Release ;;
    asan) configure_and_build asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLOW_SANITIZE=address,undefined ;;
    tsan) configure_and_build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLOW_SANITIZE=thread ;;
    win32) configure_and_build win32 -DCMAKE_BUILD_TYPE=Release \
             -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DTALLOW_DEPS="$deps" ;;
    win64) configure_and_build win64 -DCMAKE_BUILD_TYPE=Release \
             -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DTALLOW_DEPS="$deps" ;;
    *) echo "build.sh: unknown flavour '$flavour' (native, asan, tsan, win32, win64)" >&2; exit 2 ;;
  esac
done
