#!/usr/bin/env bash
# The main job: builds what is needed and shows what each plug-in module declares to
# a host (its menu entry, image modes and scripting dictionary).
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
cd "$root"

need_build=0
for f in build/native/filterhost/filterhost "build/win32/modules/Velvet Hue-168 32bit.8bf" \
         "build/win64/modules/Grain Wreck-168 64bit.8bf"; do
  [ -e "$f" ] || need_build=1
done
if [ "$need_build" = 1 ]; then
  scripts/setup.sh
fi
scripts/build.sh native win32 win64 >/dev/null

for module in build/win32/modules/*.8bf build/win64/modules/*.8bf; do
  echo "================================================================"
  build/native/filterhost/filterhost info "$module"
done
echo
echo "Modules:  $root/build/win32/modules, $root/build/win64/modules (Windows), $root/build/native/modules (Linux)"
echo "CLI:      $root/build/native/filterhost/filterhost --help"
