#!/usr/bin/env bash
# A pane showing WebP and compressed TIFF files (or, with "heif", HEIC and AVIF files) through
# the image plug-ins, twice: the first visit decodes them and writes the thumbnail cache, the
# second takes every thumbnail from the cache (checked with pravel-probe thumbs: fromCache =
# all, decoded = 0).
#   tools/screenshot-plugins.sh [BUILD_DIR [heif]]   (default build/win64)
#     -> build/plugin-shot[-heif]/shot{1,2}.png
# Needs the conformance files (tools/plugin-conformance.sh makes them).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath "${1:-$here/build/win64}")"
set_="${2:-webp-tiff}"
S="$here/build/plugin-shot$([ "$set_" = heif ] && echo -heif)"
C="$here/build/plugin-conformance"
if [ "$set_" = heif ]; then
  [ -f "$C/heif/.made" ] || { echo "run tools/plugin-conformance.sh first" >&2; exit 1; }
  plugins=(heif)
  images=(heif/heic_garden.heic heif/heic_alpha_logo.heic heif/heic_10bit_garden.heic heif/heic_grey_ladybird.heic
          heif/heic_lossless_flower.heic heif/example.heic heif/avif_garden.avif heif/avif_alpha_logo.avif
          heif/avif_10bit_alpha_wizard.avif heif/avif_grid_photo.avif heif/avif_rotated_garden.avif
          heif/avif_cropped_garden.avif heif/example.avif)
else
  [ -f "$C/webp/.made" ] && [ -f "$C/tiff/.made" ] || { echo "run tools/plugin-conformance.sh first" >&2; exit 1; }
  plugins=(webp tiff)
  images=(webp/lossy_garden.webp webp/lossless_flower.webp webp/lossy_alpha_logo.webp webp/animated_lossy_rose.webp
          webp/lossy_photo_large.webp webp/test.webp tiff/made_lzw_garden.tif tiff/made_jpeg_garden.tif
          tiff/made_deflate_pred_grey.tif tiff/made_packbits_flower.tif tiff/made_lzw_alpha_logo.tif
          tiff/quad-lzw-compat.tiff tiff/testfax4.tiff)
fi
rm -rf "$S"
mkdir -p "$S/app" "$S/spi" "$S/images"
# The program with a settings file of its own beside it (and so its own cache folder).
cp "$build/Pravel.exe" "$build/pravel-ctl.exe" "$S/app/"
for p in "${plugins[@]}"; do cp "$build/plugins/$p.spi" "$S/spi/"; done
winpath() { echo "Z:$1" | tr '/' '\\'; }
printf '[Path]\r\nSPI=%s\r\n' "$(winpath "$S/spi")" >"$S/app/Pravel.ini"
for f in "${images[@]}"; do cp "$C/$f" "$S/images/"; done
cp "$here/build/sample/png_rgb_garden.png" "$S/images/"
"$here/tools/screenshot-panes.sh" "$S/app" "$S/shot1.png" "$S/images" >/dev/null 2>&1
"$here/tools/wine-run.sh" "$build/pravel-probe.exe" thumbs "$(winpath "$S/images")" --cell 148x111 \
  --cache "$(winpath "$S/app/cache")" --plugins "$(winpath "$S/spi")" 2>/dev/null | tee "$S/second-visit.json"
"$here/tools/screenshot-panes.sh" "$S/app" "$S/shot2.png" "$S/images" >/dev/null 2>&1
echo "screenshots: $S/shot1.png (first visit), $S/shot2.png (from the cache)"
