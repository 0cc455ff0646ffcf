#!/usr/bin/env bash
# Whole-program timings of elemorama-render at 12 megapixels (the photo and a sky selection of
# about half the image, PPM in and out so that file compression does not dominate), its peak
# memory, and the closest G'MIC commands on the same files in the same run when gmic is installed
# (fx_rain for rain, plasma for a flat cloud texture). Ratios are G'MIC time / our time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD_DIR:-$root/build}/bin
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$bin/bench_effects" --write "$tmp"
"$bin/elemorama-render" --effect Rain --set Den=0 -q "$tmp/photo12mp.png" -o "$tmp/photo12mp.ppm"

# Prints "<wall seconds> <cpu seconds> <peak KiB>" of a command.
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$tmp/time.txt" "$@" >/dev/null 2>"$tmp/err.txt" || {
    cat "$tmp/err.txt" >&2
    return 1
  }
  awk '{printf "%s %.2f %s\n", $1, $2 + $3, $4}' "$tmp/time.txt"
}

declare -A ours
for effect in Rain Cumulus; do
  name=$([ "$effect" = Rain ] && echo rain || echo clouds)
  read -r wall cpu rss < <(measure "$bin/elemorama-render" -q --effect "$effect" --selection "$tmp/sky12mp.png" \
    "$tmp/photo12mp.ppm" -o "$tmp/out.ppm")
  ours[$name]=$wall
  echo "bench: render_${name}_12mp_program_seconds $wall s"
  echo "bench: render_${name}_12mp_program_cpu_per_wall $(awk -v c="$cpu" -v w="$wall" 'BEGIN{printf "%.2f", c / w}') ratio"
  echo "bench: render_${name}_12mp_peak_rss $((rss / 1024)) MiB"
done

if command -v gmic >/dev/null 2>&1; then
  # fx_rain needs its six arguments (angle, amount, length, ...); plasma (a solid-noise texture) stands in for clouds.
  for pair in "rain fx_rain:65,10,50,3,1,0" "clouds plasma:0.5,0,8"; do
    set -- $pair
    command=${2%%:*} arguments=${2#*:}
    [ "$arguments" = "$2" ] && arguments=""
    read -r wall cpu rss < <(measure gmic "$tmp/photo12mp.ppm" "$command" $arguments -o "$tmp/gmic.ppm")
    echo "bench: gmic_${command}_12mp_program_seconds $wall s"
    echo "bench: render_${1}_vs_gmic_${command} $(awk -v g="$wall" -v o="${ours[$1]}" 'BEGIN{printf "%.2f", g / o}') ratio"
  done
else
  echo "gmic not installed: G'MIC comparison skipped"
fi
