#!/usr/bin/env bash
# The command-line tool as a user meets it: help, exit codes that tell a usage error from
# bad input from a cancel, clear messages, and the recorded action in --json.
# Usage: tests/cli/cli_behaviour.sh ROOT
set -uo pipefail
root="$1"
fh="$root/build/native/filterhost/filterhost"
vh="$root/build/native/modules/Velvet Hue-168.so"
gw="$root/build/native/modules/Grain Wreck-168.so"
sample="$root/resources/samples/coffee.png"
work="$(mktemp -d /tmp/tallowmere-cli.XXXXXX)"
trap 'rm -rf "$work"' EXIT

passed=0; failed=0
# expect STATUS "TEXT IN OUTPUT" command...
expect() {
  local status="$1" text="$2"; shift 2
  local output
  output="$("$@" 2>&1)"
  local got=$?
  if [ "$got" -eq "$status" ] && { [ -z "$text" ] || grep -qF -- "$text" <<<"$output"; }; then
    passed=$((passed + 1))
  else
    echo "FAILED: $* -> exit $got (wanted $status), output:"
    echo "$output" | head -5
    failed=$((failed + 1))
  fi
}

expect 0 "usage: filterhost" "$fh" --help
expect 0 "--param NAME=VALUE" "$fh" apply --help
expect 2 "unknown" "$fh" frobnicate
expect 2 "no --plugin" "$fh" apply --in "$sample" --out "$work/x.png"
expect 2 "--depth" "$fh" apply --plugin "$vh" --in "$sample" --out "$work/x.png" --depth 12
expect 1 "no such file" "$fh" apply --plugin "$vh" --in "$work/missing.png" --out "$work/x.png"
expect 1 "unknown parameter 'bogus'" "$fh" apply --plugin "$vh" --in "$sample" --out "$work/x.png" --param bogus=1
expect 1 "between 0 and 100" "$fh" apply --plugin "$vh" --in "$sample" --out "$work/x.png" --param hue=101
expect 1 "is not a value of colors" "$fh" apply --plugin "$gw" --in "$sample" --out "$work/x.png" --param colors=9
expect 1 "glue" "$fh" apply --plugin "$vh" --in "$sample" --out "$work/x.png" --glue 70
printf 'not an image' >"$work/text.png"
expect 1 "" "$fh" apply --plugin "$vh" --in "$work/text.png" --out "$work/x.png"
expect 1 "" "$fh" info "$work/text.png"
expect 1 "" "$fh" info "$sample"
[ -e "$work/x.png" ] && { echo "FAILED: a failed run left $work/x.png"; failed=$((failed + 1)); }

# A recorded action names every key; names and enumerations map both ways.
expect 0 '"label": "multiply"' "$fh" apply --plugin "$vh" --in "$sample" --out "$work/vh.png" \
  --glue multiply --param hue=40 --json
expect 0 '"value": 40' "$fh" apply --plugin "$vh" --in "$sample" --out "$work/vh.png" --param hue=40 --json
expect 0 '"label": "greys"' "$fh" apply --plugin "$gw" --in "$sample" --out "$work/gw.png" \
  --param colors=greys --json
expect 0 '"label": "screendim"' "$fh" apply --plugin "$gw" --in "$sample" --out "$work/gw.png" --glue 62 --json
expect 0 "Tallowmere Velvet Hue" "$fh" info "$vh"
expect 0 '"scope": "Tallowmere Grain Wreck"' "$fh" info --json "$gw"

# Load and save round trips keep 8-bit pixels.
expect 0 "" "$fh" convert "$sample" "$work/copy.pam"
expect 0 "" "$fh" convert "$work/copy.pam" "$work/copy.png"
if [ "$(/usr/bin/compare -metric AE "$sample" "$work/copy.png" null: 2>&1)" != 0 ]; then
  echo "FAILED: convert changed pixels"; failed=$((failed + 1))
else passed=$((passed + 1)); fi

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
