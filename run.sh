#!/usr/bin/env bash
# The main job: builds what is needed, then filters the bundled sample photograph with
# both products through the command-line host and writes the results under out/.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

filterhost=build/native/filterhost/filterhost
if [ ! -x "$filterhost" ] || ! command -v cmake >/dev/null 2>&1; then
  scripts/setup.sh
fi
scripts/build.sh native

sample=resources/samples/coffee.png

apply() {
  local module="$1" folder="$2" name="$3"; shift 3
  mkdir -p "$folder"
  "$filterhost" apply --plugin "build/native/modules/$module" --in "$sample" \
    --out "$folder/$name.png" "$@"
  echo "  $folder/$name.png  ($*)"
}

echo "Velvet Hue on $sample:"
apply "Velvet Hue-168.so" out/velvet_hue neutral
apply "Velvet Hue-168.so" out/velvet_hue hue-turn --param hue=20
apply "Velvet Hue-168.so" out/velvet_hue desaturated --param saturation=0
apply "Velvet Hue-168.so" out/velvet_hue warm-glue-color --param hue=62 --param saturation=80 \
  --glue color

echo "Grain Wreck on $sample:"
apply "Grain Wreck-168.so" out/grain_wreck black-white --param colors=1
apply "Grain Wreck-168.so" out/grain_wreck 8-colors --param colors=2
apply "Grain Wreck-168.so" out/grain_wreck greys --param colors=greys
apply "Grain Wreck-168.so" out/grain_wreck blocks-glue-overlay --param colors=2 \
  --param coarseness=30 --glue overlay

echo
echo "Results:  $root/out/velvet_hue/ and $root/out/grain_wreck/"
echo "Modules:  $root/build/native/modules/ (Linux); ./test.sh also builds the Windows .8bf files"
echo "CLI:      $root/$filterhost --help"
