#!/usr/bin/env bash
# The same filter settings give byte-identical output files from the Linux build and
# from the Windows builds under Wine: filterhost apply on the sample photograph with
# each product, at 8, 16 and 32 bits, compared with cmp.
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
gw_native="$root/build/native/modules/Grain Wreck-168.so"
if [ "$bits" = 32 ]; then
  gw_windows="$root/build/$build/modules/GrainWreck-168 32bit.8bf"
else
  gw_windows="$root/build/$build/modules/Grain Wreck-168 64bit.8bf"
fi

passed=0; failed=0
check() {
  local product="$1" name="$2"; shift 2
  local linux_module="$vh_native" windows_module="$vh_windows"
  if [ "$product" = gw ]; then linux_module="$gw_native"; windows_module="$gw_windows"; fi
  local ext=png
  [ "$name" = float ] && ext=pfm  # PNG holds no float samples
  "$native" apply --no-progress --plugin "$linux_module" --in "$sample" --out "$work/$name-linux.$ext" "$@"
  "$loader" "$windows" apply --no-progress --plugin "$windows_module" --in "$sample" \
    --out "$work/$name-$build.$ext" "$@" 2>&1 | tr -d '\r'
  if cmp -s "$work/$name-linux.$ext" "$work/$name-$build.$ext"; then
    passed=$((passed + 1))
  else
    echo "DIFFERENT: $name ($*)"
    failed=$((failed + 1))
  fi
}

check vh hue --param hue=20
check vh glue --param hue=70 --param saturation=90 --param gamma=35 --glue multiply
check vh frontal --param luminance=60 --glue frontal
check vh deep --depth 16 --param hue=35 --param saturation=75 --glue color
check gw colours --param colors=2 --param coarseness=20 --param sharpen=60
check gw greys --param colors=3 --param radius=70 --glue overlay
check gw deep --depth 16 --param colors=1 --param range=80
check gw float --depth 32 --param colors=2 --param radius=40

echo "same files ($build): $passed passed, $failed failed"
[ "$failed" -eq 0 ]
