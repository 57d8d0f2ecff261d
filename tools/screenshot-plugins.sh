#!/usr/bin/env bash
# A pane showing WebP and compressed TIFF files through the image plug-ins, twice: the first
# visit decodes them and writes the thumbnail cache, the second takes every thumbnail from
# the cache (checked with pravel-probe thumbs: fromCache = all, decoded = 0).
#   tools/screenshot-plugins.sh [BUILD_DIR]   (default build/win64) -> build/plugin-shot/shot{1,2}.png
# Needs the conformance files (tools/plugin-conformance.sh makes them).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath "${1:-$here/build/win64}")"
S="$here/build/plugin-shot"
C="$here/build/plugin-conformance"
[ -f "$C/webp/.made" ] && [ -f "$C/tiff/.made" ] || { echo "run tools/plugin-conformance.sh first" >&2; exit 1; }
rm -rf "$S"
mkdir -p "$S/app" "$S/spi" "$S/images"
# The program with a settings file of its own beside it (and so its own cache folder).
cp "$build/Pravel.exe" "$build/pravel-ctl.exe" "$S/app/"
cp "$build/plugins/webp.spi" "$build/plugins/tiff.spi" "$S/spi/"
winpath() { echo "Z:$1" | tr '/' '\\'; }
printf '[Path]\r\nSPI=%s\r\n' "$(winpath "$S/spi")" >"$S/app/Pravel.ini"
for f in webp/lossy_garden.webp webp/lossless_flower.webp webp/lossy_alpha_logo.webp webp/animated_lossy_rose.webp \
         webp/lossy_photo_large.webp webp/test.webp tiff/made_lzw_garden.tif tiff/made_jpeg_garden.tif \
         tiff/made_deflate_pred_grey.tif tiff/made_packbits_flower.tif tiff/made_lzw_alpha_logo.tif \
         tiff/quad-lzw-compat.tiff tiff/testfax4.tiff; do
  cp "$C/$f" "$S/images/"
done
cp "$here/build/sample/png_rgb_garden.png" "$S/images/"
"$here/tools/screenshot-panes.sh" "$S/app" "$S/shot1.png" "$S/images" >/dev/null 2>&1
"$here/tools/wine-run.sh" "$build/pravel-probe.exe" thumbs "$(winpath "$S/images")" --cell 148x111 \
  --cache "$(winpath "$S/app/cache")" --plugins "$(winpath "$S/spi")" 2>/dev/null | tee "$S/second-visit.json"
"$here/tools/screenshot-panes.sh" "$S/app" "$S/shot2.png" "$S/images" >/dev/null 2>&1
echo "screenshots: $S/shot1.png (first visit), $S/shot2.png (from the cache)"
