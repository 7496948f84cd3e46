#!/usr/bin/env bash
# Installs whatever is missing, builds every flavour and runs every test: natively,
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows builds of the
# modules and tests under Wine for both architectures.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

scripts/setup.sh
scripts/build.sh native asan tsan win32 win64

source scripts/wine-session.sh
trap wine_session_stop EXIT

failed=()
run_suite() {
  local name="$1"; shift
  echo "== tests: $name"
  if ! "$@"; then failed+=("$name"); fi
}

# The native tests also inspect the Windows modules (PE headers, exports, imports,
# resources), so they are told where the cross builds put them.
export TALLOW_WIN32_MODULES="$root/build/win32/modules"
export TALLOW_WIN64_MODULES="$root/build/win64/modules"

run_suite native ctest --test-dir build/native --output-on-failure
run_suite cli tests/cli/cli_behaviour.sh "$root"
run_suite asan env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure
run_suite tsan env TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build/tsan --output-on-failure -R '^(test_worker_pool|test_tiled_image|test_render|test_grain_wreck)$'
wine_session_start
if can_run_32bit; then
  run_suite "win32 (Wine)" ctest --test-dir build/win32 --output-on-failure
  run_suite "same files (win32)" tests/cli/same_files.sh "$root" wine win32
else
  echo "== tests: win32 (Wine) NOT RUN: this machine cannot run 32-bit x86 programs, which"
  echo "   32-bit Wine needs. The 32-bit modules were built and their files checked natively."
fi
run_suite "win64 (Wine)" ctest --test-dir build/win64 --output-on-failure
run_suite "same files (win64)" tests/cli/same_files.sh "$root" "$WINE64_LOADER" win64

echo
echo "Modules:    build/win32/modules/*.8bf, build/win64/modules/*.8bf, build/native/modules/*.so"
echo "CLI:        build/native/filterhost/filterhost (Windows: build/win*/filterhost/filterhost.exe)"
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED suites: ${failed[*]}"
  exit 1
fi
echo "All test suites passed."
