#!/usr/bin/env bash
# The same filter settings give byte-identical output files from the Linux build and
# from the Windows builds under Wine: filterhost apply on the sample photograph with
# each product, at 8 and 16 bits, compared with cmp.
# Usage: tests/cli/same_files.sh ROOT WINE_LOADER BUILD(win32|win64)
set -euo pipefail
root="$1"; loader="$2"; build="$3"
bits=${build#win}
native="$root/build/native/filterhost/filterhost"
windows="$root/build/$build/filterhost/filterhost.exe"
sample="$root/resources/samples/coffee.png"
work="$(mktemp -d /tmp/tallowmere-same.XXXXXX)"
trap 'rm -rf "$work"' EXIT

vh_native="$root/build/native/modules/Velvet Hue-168.so"
vh_windows="$root/build/$build/modules/Velvet Hue-168 ${bits}bit.8bf"

passed=0; failed=0
check() {
  local name="$1"; shift
  "$native" apply --no-progress --plugin "$vh_native" --in "$sample" --out "$work/$name-linux.png" "$@"
  "$loader" "$windows" apply --no-progress --plugin "$vh_windows" --in "$sample" \
    --out "$work/$name-$build.png" "$@" 2>&1 | tr -d '\r'
  if cmp -s "$work/$name-linux.png" "$work/$name-$build.png"; then
    passed=$((passed + 1))
  else
    echo "DIFFERENT: $name ($*)"
    failed=$((failed + 1))
  fi
}

check hue --param hue=20
check glue --param hue=70 --param saturation=90 --param gamma=35 --glue multiply
check frontal --param luminance=60 --glue frontal
check deep --depth 16 --param hue=35 --param saturation=75 --glue color

echo "same files ($build): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
