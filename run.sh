#!/usr/bin/env bash
# The main job: builds what is needed, then filters the bundled sample photograph with
# Velvet Hue through the command-line host and writes the results under out/.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

filterhost=build/native/filterhost/filterhost
if [ ! -x "$filterhost" ] || ! command -v cmake >/dev/null 2>&1; then
  scripts/setup.sh
fi
scripts/build.sh native

sample=resources/samples/coffee.png
velvet="build/native/modules/Velvet Hue-168.so"
out=out/velvet_hue
mkdir -p "$out"

apply() {
  local name="$1"; shift
  "$filterhost" apply --plugin "$velvet" --in "$sample" --out "$out/$name.png" "$@"
  echo "  $out/$name.png  ($*)"
}

echo "Velvet Hue on $sample:"
apply neutral
apply hue-turn --param hue=20
apply desaturated --param saturation=0
apply warm-glue-color --param hue=62 --param saturation=80 --glue color

echo
echo "Results:  $root/$out/"
echo "Modules:  $root/build/native/modules/ (Linux); ./test.sh also builds the Windows .8bf files"
echo "CLI:      $root/$filterhost --help"
