#!/usr/bin/env bash
# The image plug-ins under Wine, measured against named peers in the same run.
#
#   bench/plugins.sh webp [REPEATS]   WebP through the plug-in host (pravel-probe plugdecode:
#                                     selection, decode, alpha over white, hand-over, release)
#                                     against Debian's dwebp ("Time to decode picture") on the
#                                     same files; REPEATS rounds (default 5) taking turns, best
#                                     time of each side; ratio per file and over all
#   bench/plugins.sh walk [FILES]     what the selection walk costs: a folder of FILES (default
#                                     1000) files listed and loaded as a pane does, with 1 and
#                                     with 30 plug-ins in the plug-in folder (pravel-probe thumbs)
#
# Needs a Windows build with pravel-probe.exe and plugins/webp.spi (build/win64, else build/win)
# and the conformance files (tools/plugin-conformance.sh makes them).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what="${1:-webp}"
win=""
for d in "$here/build/win64" "$here/build/win"; do
  [ -f "$d/pravel-probe.exe" ] && [ -f "$d/plugins/webp.spi" ] && { win="$d"; break; }
done
[ -n "$win" ] || { echo "bench/plugins.sh: build a Windows pravel-probe and the plug-ins first" >&2; exit 1; }
work="$here/build/bench-plugins"
mkdir -p "$work"
winpath() { echo "Z:$1" | tr '/' '\\'; }
probe() { "$here/tools/wine-run.sh" "$win/pravel-probe.exe" "$@" 2>/dev/null; }

if [ "$what" = webp ]; then
  repeats="${2:-5}"
  src="$here/build/plugin-conformance/webp"
  [ -f "$src/.made" ] || { echo "bench/plugins.sh: run tools/plugin-conformance.sh once first" >&2; exit 1; }
  rm -rf "$work/spi1"; mkdir -p "$work/spi1"; cp "$win/plugins/webp.spi" "$work/spi1/"
  # dwebp times to the millisecond: only files that take it a good many of them. It decodes
  # no animations, so those have no peer here.
  files=(lossy_photo_large lossless_photo_large lossy_sharpyuv_garden lossy_garden)
  args=()
  for f in "${files[@]}"; do args+=("$(winpath "$src/$f.webp")"); done
  # The machine's load drifts: the two sides take turns, three decodes each per round, and
  # each keeps its best time over all rounds.
  declare -A bestp bestd
  for _ in $(seq 1 "$repeats"); do
    probe plugdecode --plugins "$(winpath "$work/spi1")" --repeat 3 "${args[@]}" >"$work/webp.jsonl"
    for f in "${files[@]}"; do
      p=$(grep "$f.webp\"" "$work/webp.jsonl" | sed -n 's/.*"ms":\([0-9.]*\).*/\1/p')
      d=$(for _ in 1 2 3; do dwebp -v "$src/$f.webp" -bmp -o /dev/null 2>&1 |
            sed -n 's/Time to decode picture: \([0-9.]*\)s/\1/p'; done | sort -g | head -n 1)
      d=$(awk -v s="$d" 'BEGIN { printf "%.3f", s * 1000 }')
      bestp[$f]=$(awk -v a="${bestp[$f]:-1e9}" -v b="$p" 'BEGIN { print (b < a ? b : a) }')
      bestd[$f]=$(awk -v a="${bestd[$f]:-1e9}" -v b="$d" 'BEGIN { print (b < a ? b : a) }')
    done
  done
  printf '%-24s %12s %12s %8s\n' file "plug-in ms" "dwebp ms" ratio
  totalp=0 totald=0
  for f in "${files[@]}"; do
    p=${bestp[$f]} d=${bestd[$f]}
    totalp=$(awk -v a="$totalp" -v b="$p" 'BEGIN { print a + b }')
    totald=$(awk -v a="$totald" -v b="$d" 'BEGIN { print a + b }')
    printf '%-24s %12.2f %12.2f %8.2f\n' "$f" "$p" "$d" "$(awk -v a="$p" -v b="$d" 'BEGIN { print a / b }')"
  done
  printf '%-24s %12.2f %12.2f %8.2f\n' "all" "$totalp" "$totald" "$(awk -v a="$totalp" -v b="$totald" 'BEGIN { print a / b }')"
  exit 0
fi

if [ "$what" = walk ]; then
  n="${2:-1000}"
  # 1000 small WebP files that the first WebP plug-in takes, and as many that no plug-in takes.
  if [ ! -f "$work/walk-$n/.made" ]; then
    rm -rf "$work/walk-$n"; mkdir -p "$work/walk-$n/good" "$work/walk-$n/refused"
    convert -size 64x48 plasma:fractal "$work/walk-$n/seed.png"
    cwebp -quiet -q 80 "$work/walk-$n/seed.png" -o "$work/walk-$n/seed.webp"
    for i in $(seq -w 1 "$n"); do
      cp "$work/walk-$n/seed.webp" "$work/walk-$n/good/img$i.webp"
      printf 'RIFF\0\0\0\0JUNKnot a picture' >"$work/walk-$n/refused/img$i.webp"
    done
    touch "$work/walk-$n/.made"
  fi
  rm -rf "$work/spi1" "$work/spi30"; mkdir -p "$work/spi1" "$work/spi30"
  cp "$win/plugins/webp.spi" "$work/spi1/"
  # 30 import filters: the WebP plug-in listed first ("a-"), then 29 others (copies of the
  # TIFF plug-in and of the test plug-in), each loaded and unloaded for every file.
  cp "$win/plugins/webp.spi" "$work/spi30/a-webp.spi"
  for i in $(seq -w 1 15); do cp "$win/plugins/tiff.spi" "$work/spi30/t$i.spi"; done
  for i in $(seq -w 1 14); do cp "$win/plugins/tpic2.spi" "$work/spi30/p$i.spi" 2>/dev/null ||
                               cp "$win/plugins/tiff.spi" "$work/spi30/p$i.spi"; done
  for set in good refused; do
    for spi in spi1 spi30; do
      line=$(probe thumbs "$(winpath "$work/walk-$n/$set")" --cell 148x111 --no-cache --plugins "$(winpath "$work/$spi")")
      listed=$(sed -n 's/.*"listed":\([0-9]*\).*/\1/p' <<<"$line")
      decoded=$(sed -n 's/.*"decoded":\([0-9]*\).*/\1/p' <<<"$line")
      enum=$(sed -n 's/.*"enumerate":\([0-9.]*\).*/\1/p' <<<"$line")
      first=$(sed -n 's/.*"firstPass":\([0-9.]*\).*/\1/p' <<<"$line")
      printf '%-8s %-6s listed %5s decoded %5s  listing %8.1f ms  per file %7.2f ms\n' "$set" "$spi" "$listed" \
        "$decoded" "$enum" "$(awk -v a="$first" -v b="$listed" 'BEGIN { print (b > 0 ? a / b : 0) }')"
    done
  done
  exit 0
fi
echo "usage: bench/plugins.sh webp [REPEATS] | walk [FILES]" >&2
exit 2
