#!/usr/bin/env bash
# Speed checks of the filters against their targets, one section per product:
#   bench/run.sh [SECTION...]        sections: velvet_hue grain_wreck (default: all of them)
# Each section times `filterhost apply` on generated 24-megapixel pictures (8- and
# 16-bit RGB, PAM and deflate TIFF) against ImageMagick on the same file and against
# filterhost's own load + save, and prints a table with the targets.
#
# Environment: BENCH_BUILD (build folder, default build/native, configured as Release
# when missing), BENCH_DATA (picture cache, default build/bench), BENCH_RUNS (timings
# per figure, the best counts; default 3), TALLOW_JOBS (build jobs, default 2).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BENCH_BUILD:-$root/build/native}"
data="${BENCH_DATA:-$root/build/bench}"
runs="${BENCH_RUNS:-3}"
jobs="${TALLOW_JOBS:-2}"
magick=/usr/bin/convert  # the real ImageMagick: a plain `convert` on PATH may be a stand-in
width=6000
height=4000
megapixels=$(awk -v w=$width -v h=$height 'BEGIN { printf "%.1f", w * h / 1e6 }')

fail() { echo "bench: $*" >&2; exit 1; }

[ -x "$magick" ] || fail "ImageMagick is missing ($magick): apt-get install imagemagick"

# ---- build -------------------------------------------------------------------------------

build_targets() {
  if [ ! -f "$build/build.ninja" ]; then
    echo "== configuring $build (Release)"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  local type
  type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
  [ "$type" = Release ] || echo "bench: warning: $build is a '$type' build; the figures want Release" >&2
  echo "== building $*"
  cmake --build "$build" -j "$jobs" --target "$@" >"$data/build.log" 2>&1 ||
    { tail -30 "$data/build.log"; fail "build failed (log: $data/build.log)"; }
}

# ---- pictures ----------------------------------------------------------------------------

# A 16-bit picture with content everywhere: four-corner colour gradients, a blotchy
# texture laid over them and fine noise. The 8-bit one is the same picture reduced.
# The TIFFs are written by filterhost (deflate), the form apply writes them in.
make_pictures() {
  local fh="$build/filterhost/filterhost"
  if [ ! -s "$data/rgb16.pam" ]; then
    echo "== generating a ${width}x${height} test picture (once; cached in $data)"
    "$magick" -size ${width}x${height} xc: \
      -sparse-color Bilinear "0,0 #c0392b $((width - 1)),0 #f1c40f 0,$((height - 1)) #2c3e50 $((width - 1)),$((height - 1)) #1abc9c" \
      \( -size $((width / 8))x$((height / 8)) xc:gray50 -seed 7 -attenuate 3 +noise Gaussian \
         -blur 0x1.5 -resize ${width}x${height}! \) -compose Overlay -composite \
      -seed 11 -attenuate 0.5 +noise Gaussian -depth 16 -type TrueColor "pam:$data/rgb16.pam.part"
    mv "$data/rgb16.pam.part" "$data/rgb16.pam"
  fi
  if [ ! -s "$data/rgb8.pam" ]; then
    "$magick" "$data/rgb16.pam" -depth 8 "pam:$data/rgb8.pam.part"
    mv "$data/rgb8.pam.part" "$data/rgb8.pam"
  fi
  local depth
  for depth in 8 16; do
    if [ ! -s "$data/rgb$depth.tif" ]; then
      "$fh" convert "$data/rgb$depth.pam" "$data/rgb$depth.part.tif"
      mv "$data/rgb$depth.part.tif" "$data/rgb$depth.tif"
    fi
  done
}

# ---- timing ------------------------------------------------------------------------------

# Runs a command BENCH_RUNS times and prints the best wall time in seconds.
best_time() {
  local best="" i start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$data/last_error.log" ||
      { cat "$data/last_error.log" >&2; fail "failed: $*"; }
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; if (b == "" || t < b) b = t; printf "%.3f", b }')
  done
  echo "$best"
}

mps() { awk -v mp="$megapixels" -v t="$1" 'BEGIN { if (t > 0) printf "%.1f", mp / t; else printf "inf" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else printf "-" }'; }
at_least() { awk -v v="$1" -v t="$2" 'BEGIN { print (v + 0 >= t + 0 ? "PASS" : "MISS") }'; }
below() { awk -v v="$1" -v t="$2" 'BEGIN { print (v + 0 < t + 0 ? "PASS" : "MISS") }'; }

table_header() {
  printf '%-26s %8s %8s %8s | %8s %9s %-10s | %8s %8s %9s %-9s\n' \
    "case" "load+sv" "apply" "IM" "filt MP/s" "filt/IM" "target" "app MP/s" "IM MP/s" "apply/IM" "target"
  printf '%s\n' "$(printf '%.0s-' {1..132})"
}

# One row: the filter's own speed is the apply time less filterhost's load + save.
# filter_target: the minimum filter MP/s, or "-" for none.
table_row() {
  local label="$1" convert_s="$2" apply_s="$3" magick_s="$4" filter_target="$5"
  local filter_s filter_mps apply_mps magick_mps filter_check="-"
  filter_s=$(awk -v a="$apply_s" -v c="$convert_s" 'BEGIN { printf "%.3f", a - c }')
  filter_mps=$(mps "$filter_s")
  apply_mps=$(mps "$apply_s")
  magick_mps=$(mps "$magick_s")
  [ "$filter_target" = "-" ] || filter_check=">=$filter_target $(at_least "$filter_mps" "$filter_target")"
  printf '%-26s %7ss %7ss %7ss | %8s %9s %-10s | %8s %8s %9s %-9s\n' \
    "$label" "$convert_s" "$apply_s" "$magick_s" "$filter_mps" "$(ratio "$magick_s" "$filter_s")" \
    "$filter_check" "$apply_mps" "$magick_mps" "$(ratio "$magick_s" "$apply_s")" \
    "<IM $(below "$apply_s" "$magick_s")"
}

# ---- Velvet Hue --------------------------------------------------------------------------

bench_velvet_hue() {
  local fh="$build/filterhost/filterhost"
  local module="$build/modules/Velvet Hue-168.so"
  local out="$data/out"
  mkdir -p "$out"
  local params=(--param hue=62 --param saturation=40 --param luminance=55 --param gamma=58)

  echo
  echo "Velvet Hue on a ${width} x ${height} (${megapixels} MP) RGB picture, best of $runs;"
  echo "hue 62, saturation 40, luminance 55, gamma 58 against ImageMagick -modulate 110,80,60."
  echo "load+sv: filterhost convert IN OUT; filt: apply less load+sv; ratios are speed against IM."
  table_header
  local depth format ext convert_s magick_s apply_s glue target
  for depth in 8 16; do
    for format in PAM TIFF; do
      ext=$([ "$format" = PAM ] && echo pam || echo tif)
      local in="$data/rgb$depth.$ext"
      convert_s=$(best_time "$fh" convert "$in" "$out/convert.$ext")
      magick_s=$(best_time "$magick" "$in" -modulate 110,80,60 "$out/magick.$ext")
      for glue in normal color; do
        apply_s=$(best_time "$fh" apply --plugin "$module" --in "$in" --out "$out/apply.$ext" \
          "${params[@]}" --glue "$glue" --no-progress)
        target=$([ "$depth" = 8 ] && echo 30 || echo -)
        table_row "$depth-bit $format, glue $glue" "$convert_s" "$apply_s" "$magick_s" "$target"
      done
    done
  done
  rm -rf "$out"

  echo
  echo "Preview: one render of the 474 x 308 pane at the fit reduction (in one process)"
  local report
  report=$("$build/bench/preview_latency" --benchmark_color=false 2>/dev/null) ||
    fail "preview_latency failed"
  printf '%-26s %10s %10s  %-14s\n' "case" "best" "median" "target"
  echo "$report" | awk '
    function ms(value, unit) {
      if (unit == "us") return value / 1000
      if (unit == "ns") return value / 1e6
      if (unit == "s") return value * 1000
      return value
    }
    /^PreviewRender\/.*_median / { median[$1 ~ /^PreviewRender\/1\// ? "normal" : "color"] = ms($2, $3) }
    /^PreviewRender\/.*_min / {
      glue = $1 ~ /^PreviewRender\/1\// ? "normal" : "color"
      best[glue] = ms($2, $3)
      match($0, /scale=[0-9]+/); scale = substr($0, RSTART + 6, RLENGTH - 6)
    }
    END {
      for (i = 1; i <= 2; ++i) {
        glue = i == 1 ? "normal" : "color"
        if (!(glue in best)) { printf "%-26s %10s\n", "preview, glue " glue, "no result"; continue }
        printf "%-26s %7.1f ms %7.1f ms  <30 ms %s\n", "preview 1/" scale ", glue " glue,
               best[glue], median[glue], (best[glue] < 30 ? "PASS" : "MISS")
      }
    }'
}

# ---- Grain Wreck ------------------------------------------------------------------------

# Best real time in milliseconds of one benchmark of a Google Benchmark report.
benchmark_ms() {
  echo "$1" | awk -v name="$2" '
    function ms(value, unit) {
      if (unit == "us") return value / 1000
      if (unit == "ns") return value / 1e6
      if (unit == "s") return value * 1000
      return value
    }
    index($1, name "/") == 1 && $1 ~ /_min$/ { printf "%.1f", ms($2, $3); found = 1 }
    END { if (!found) printf "-" }'
}

bench_grain_wreck() {
  local fh="$build/filterhost/filterhost"
  local module="$build/modules/Grain Wreck-168.so"
  local out="$data/out"
  local in="$data/rgb8.pam"
  mkdir -p "$out"
  local params=(--param colors=2 --param radius=30 --param coarseness=0 --param range=45
                --param sharpen=25)

  # The eight colours of the "8 colors" palette, for ImageMagick's -remap.
  local palette="$out/palette8.png"
  "$magick" -size 1x1 xc:white xc:black xc:red xc:lime xc:blue xc:cyan xc:magenta xc:yellow \
    +append "$palette"
  # -scale 50% until a single pixel is left: the whole reduced stack of a pyramid.
  local halvings=() w=$width h=$height
  while [ "$w" -gt 1 ] || [ "$h" -gt 1 ]; do
    halvings+=(-scale 50%)
    w=$(((w + 1) / 2))
    h=$(((h + 1) / 2))
  done

  echo
  echo "Grain Wreck on the ${width} x ${height} (${megapixels} MP) 8-bit RGB picture (PAM), best of $runs;"
  echo "8 colors, radius 30, coarseness 0, range 45, sharpen 25."
  local convert_s apply_s dither_s scale_s filter_s
  convert_s=$(best_time "$fh" convert "$in" "$out/convert.pam")
  apply_s=$(best_time "$fh" apply --plugin "$module" --in "$in" --out "$out/apply.pam" \
    "${params[@]}" --no-progress)
  dither_s=$(best_time "$magick" "$in" -dither FloydSteinberg -remap "$palette" "$out/magick.pam")
  scale_s=$(best_time "$magick" "$in" "${halvings[@]}" "$out/scaled.pam")
  filter_s=$(awk -v a="$apply_s" -v c="$convert_s" 'BEGIN { printf "%.3f", a - c }')

  # Peak memory of one whole apply, in bytes per image pixel.
  local peak_kb bytes_per_pixel
  /usr/bin/time -f %M -o "$out/peak.txt" "$fh" apply --plugin "$module" --in "$in" \
    --out "$out/apply.pam" "${params[@]}" --no-progress >/dev/null 2>"$data/last_error.log" ||
    { cat "$data/last_error.log" >&2; fail "apply failed under /usr/bin/time"; }
  peak_kb=$(tail -1 "$out/peak.txt")
  bytes_per_pixel=$(awk -v k="$peak_kb" -v w=$width -v h=$height 'BEGIN { printf "%.1f", k * 1024 / (w * h) }')

  local report rerender_ms pyramid_ms
  report=$("$build/bench/grain_wreck_latency" --benchmark_color=false 2>/dev/null) ||
    fail "grain_wreck_latency failed"
  rerender_ms=$(benchmark_ms "$report" RerenderAfterRange)
  pyramid_ms=$(benchmark_ms "$report" PyramidBuild)
  local rerender_s pyramid_s
  rerender_s=$(awk -v m="$rerender_ms" 'BEGIN { if (m == "-") print "-"; else printf "%.3f", m / 1000 }')
  pyramid_s=$(awk -v m="$pyramid_ms" 'BEGIN { if (m == "-") print "-"; else printf "%.3f", m / 1000 }')

  echo "first render: apply less load+sv (filterhost convert IN OUT, ${convert_s}s);"
  echo "re-render and pyramid: in one process (grain_wreck_latency); IM times include IM's own load and save."
  printf '%-34s %9s %9s | %-28s %9s %9s %-16s
' "case" "time" "MP/s" "against" "time" "ratio" "target"
  printf '%s\n' "$(printf '%.0s-' {1..124})"
  printf '%-34s %8ss %9s | %-28s %8ss %9s %-16s
' \
    "first render (apply ${apply_s}s)" "$filter_s" "$(mps "$filter_s")" \
    "IM dither + remap 8 colours" "$dither_s" "$(ratio "$filter_s" "$dither_s")" \
    "<=2.00x $(awk -v f="$filter_s" -v d="$dither_s" 'BEGIN { print (f <= 2 * d ? "PASS" : "MISS") }')"
  if [ "$rerender_s" = "-" ]; then
    printf '%-34s %9s
' "re-render after range" "no result"
  else
    printf '%-34s %8ss %9s | %-28s %9s %9s %-16s
' \
      "re-render after range" "$rerender_s" "$(mps "$rerender_s")" "-" "-" "-" \
      ">=60 MP/s $(at_least "$(mps "$rerender_s")" 60)"
  fi
  if [ "$pyramid_s" = "-" ]; then
    printf '%-34s %9s
' "pyramid build" "no result"
  else
    printf '%-34s %8ss %9s | %-28s %8ss %9s %-16s
' \
      "pyramid build" "$pyramid_s" "$(mps "$pyramid_s")" \
      "IM $((${#halvings[@]} / 2)) x -scale 50%" "$scale_s" "$(ratio "$pyramid_s" "$scale_s")" "-"
  fi
  printf '%-34s %7s B %9s | %-28s %9s %9s %-16s
' \
    "peak memory of apply (${peak_kb} KB)" "$bytes_per_pixel" "per pixel" "-" "-" "-" \
    "<24 B/px $(below "$bytes_per_pixel" 24)"
  echo "ratios are time against the other's time (below 1.00x is faster)."
  rm -rf "$out"
}

# ---- main --------------------------------------------------------------------------------

sections=("$@")
[ ${#sections[@]} -eq 0 ] && sections=(velvet_hue grain_wreck)
mkdir -p "$data"
targets=(filterhost)
for section in "${sections[@]}"; do
  case "$section" in
    velvet_hue) targets+=(velvet_hue preview_latency) ;;
    grain_wreck) targets+=(grain_wreck grain_wreck_latency) ;;
    *) fail "unknown section '$section' (velvet_hue, grain_wreck)" ;;
  esac
done
build_targets "${targets[@]}"
make_pictures
echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for section in "${sections[@]}"; do
  "bench_$section"
done
