#!/usr/bin/env bash
# Conformance of the WebP, TIFF and HEIF plug-ins: every test file is decoded through the
# Windows plug-in host under Wine (pravel-probe plugdecode) and natively by the system's
# libwebp / libtiff / libheif (pravel-plugref), and the pixels must be the same (HEIF: within
# one step, see plugref), or both sides must refuse.
# The differences listed in ACCEPTED are expected and reported, not failed.
#
# Usage: tools/plugin-conformance.sh PLUGREF [WINDOWS-BUILD-DIR]
#   PLUGREF            the native pravel-plugref
#   WINDOWS-BUILD-DIR  a Windows build with pravel-probe.exe and plugins/{webp,tiff}.spi
#                      (default: build/win64, else build/win). Its heif.spi decodes the HEIF
#                      files, else the other build's: the set-up builds the HEIF libraries
#                      for x86_64 only where 32-bit processes cannot run.
# Test files: WebP made with cwebp / img2webp from build/sample (lossy, lossless, alpha,
# animated) plus the WebP files of libwebp's source; every TIFF of libtiff's test images
# (build/testdata/tiff) plus compressed TIFFs made from build/sample; HEIC and AVIF made with
# heif-enc and avifenc from build/sample (8-, 10- and 12-bit, alpha, grey, a grid, rotation,
# mirroring, a crop, damaged files) plus the HEIF files of libheif's source (its examples and
# its fuzzing corpus).
# Exit 77 (skipped) when no Windows build with the plug-ins exists.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
plugref="$1"
win="${2:-}"
if [ -z "$win" ]; then
  for d in "$here/build/win64" "$here/build/win"; do
    [ -f "$d/pravel-probe.exe" ] && [ -f "$d/plugins/webp.spi" ] && [ -f "$d/plugins/tiff.spi" ] && { win="$d"; break; }
  done
fi
heifwin=""
for d in "$win" "$here/build/win64" "$here/build/win"; do
  [ -n "$d" ] && [ -f "$d/pravel-probe.exe" ] && [ -f "$d/plugins/heif.spi" ] && { heifwin="$d"; break; }
done
if [ -z "$win" ] || [ ! -f "$win/plugins/webp.spi" ] || [ ! -f "$win/plugins/tiff.spi" ]; then
  echo "plugin-conformance: no Windows build with pravel-probe.exe and the WebP/TIFF plug-ins; skipped"
  exit 77
fi

# Differences accepted, by file name, with the reason.
declare -A ACCEPTED=(
  [ojpeg_chewey_subsamp21_multi_strip.tiff]="old-style JPEG (OJPEG) is not built into the plug-in's libtiff"
  [ojpeg_single_strip_no_rowsperstrip.tiff]="old-style JPEG (OJPEG) is not built into the plug-in's libtiff"
  [ojpeg_zackthecat_subsamp22_single_strip.tiff]="old-style JPEG (OJPEG) is not built into the plug-in's libtiff"
  [broken_overwritten_deflate.tif]="damaged Deflate data: Debian's libtiff inflates with libdeflate, the plug-in's with zlib, and they recover differently"
  [broken_overwritten_heic_garden.heic]="damaged HEVC data: the plug-in's libde265 decodes on the caller's thread and ends the picture at the damage (the rest stays green); Debian's libheif gives libde265 a worker thread, which decodes on through the damage"
)

work="$here/build/plugin-conformance"
mkdir -p "$work/webp" "$work/tiff" "$work/heif" "$work/spi" "$work/spi-heif" "$work/out"
sample="$here/build/sample"

# ---- test files (made once)
if [ ! -f "$work/webp/.made" ]; then
  {
    cwebp -quiet -q 80 "$sample/jpeg_baseline_garden.jpg" -o "$work/webp/lossy_garden.webp"
    cwebp -quiet -q 60 -sharp_yuv "$sample/png_rgb_garden.png" -o "$work/webp/lossy_sharpyuv_garden.webp"
    cwebp -quiet -lossless "$sample/png_palette_flower.png" -o "$work/webp/lossless_flower.webp"
    cwebp -quiet -q 75 "$sample/png_rgba_logo.png" -o "$work/webp/lossy_alpha_logo.webp"
    cwebp -quiet -lossless -exact "$sample/png_rgba_logo.png" -o "$work/webp/lossless_alpha_logo.webp"
    cwebp -quiet -q 90 -alpha_q 50 "$sample/png_grey_alpha_wizard.png" -o "$work/webp/lossy_alpha50_wizard.webp"
    cwebp -quiet -q 70 -resize 333 0 "$sample/jpeg_photo_large.jpg" -o "$work/webp/lossy_odd_width.webp"
    cwebp -quiet -q 85 "$sample/jpeg_photo_large.jpg" -o "$work/webp/lossy_photo_large.webp"
    cwebp -quiet -lossless "$sample/jpeg_photo_large.jpg" -o "$work/webp/lossless_photo_large.webp"
    cwebp -quiet -q 80 "$sample/jpeg_grey_ladybird.jpg" -o "$work/webp/lossy_grey_ladybird.webp"
    # Animations: frames of the animated GIF, lossy and lossless, and one made by gif2webp.
    rm -rf "$work/frames"; mkdir -p "$work/frames"
    convert "$sample/gif_animated_rose.gif" -coalesce "$work/frames/f%02d.png"
    img2webp -lossy -q 70 -d 100 "$work/frames"/f*.png -o "$work/webp/animated_lossy_rose.webp"
    img2webp -lossless -d 100 "$work/frames"/f*.png -o "$work/webp/animated_lossless_rose.webp"
    gif2webp -quiet "$sample/gif_animated_rose.gif" -o "$work/webp/animated_gif2webp_rose.webp"
    find "$here/build/src/libwebp" -name '*.webp' -exec cp {} "$work/webp/" \;
    printf 'not a webp' >"$work/webp/broken_text.webp"
    head -c 300 "$work/webp/lossy_garden.webp" >"$work/webp/broken_truncated.webp"
    cp "$work/webp/lossless_flower.webp" "$work/webp/broken_overwritten_lossless.webp"
    head -c 2000 /dev/zero | tr '\0' '\125' | dd of="$work/webp/broken_overwritten_lossless.webp" bs=1 seek=5000 conv=notrunc
  } >"$work/make.log" 2>&1
  touch "$work/webp/.made"
fi
if [ ! -f "$work/tiff/.made" ]; then
  {
    cp "$here/build/testdata/tiff"/*.tif "$here/build/testdata/tiff"/*.tiff "$work/tiff/"
    convert "$sample/png_rgb_garden.png" -compress LZW "$work/tiff/made_lzw_garden.tif"
    convert "$sample/png_rgb_garden.png" -compress Zip "$work/tiff/made_deflate_garden.tif"
    convert "$sample/png_palette_flower.png" -compress RLE "$work/tiff/made_packbits_flower.tif"
    convert "$sample/jpeg_baseline_garden.jpg" -compress JPEG -quality 85 "$work/tiff/made_jpeg_garden.tif"
    convert "$sample/png_rgba_logo.png" -compress LZW "$work/tiff/made_lzw_alpha_logo.tif"
    convert "$sample/png_grey_ladybird.png" -compress Zip -define tiff:predictor=2 "$work/tiff/made_deflate_pred_grey.tif"
    # Damaged files: cut short, and compressed data overwritten (refused or decoded alike).
    head -c 60000 "$work/tiff/made_lzw_garden.tif" >"$work/tiff/broken_truncated_lzw.tif"
    cp "$work/tiff/made_deflate_garden.tif" "$work/tiff/broken_overwritten_deflate.tif"
    head -c 4000 /dev/zero | tr '\0' '\125' | dd of="$work/tiff/broken_overwritten_deflate.tif" bs=1 seek=30000 conv=notrunc
    cp "$work/tiff/made_jpeg_garden.tif" "$work/tiff/broken_overwritten_jpeg.tif"
    head -c 3000 /dev/zero | tr '\0' '\252' | dd of="$work/tiff/broken_overwritten_jpeg.tif" bs=1 seek=20000 conv=notrunc
  } >>"$work/make.log" 2>&1
  touch "$work/tiff/.made"
fi

rm -f "$work/spi"/*.spi "$work/spi-heif"/*.spi
if [ -n "$heifwin" ]; then
  if [ ! -f "$work/heif/.made" ]; then
    {
      h="$work/heif" t="$work/heif-tmp"
      rm -rf "$t"; mkdir -p "$t"
      convert "$sample/jpeg_baseline_garden.jpg" -depth 16 "PNG48:$t/garden16.png"
      convert "$sample/jpeg_photo_large.jpg" -resize 333x "$t/odd.png"
      heif-enc -q 70 "$sample/jpeg_baseline_garden.jpg" -o "$h/heic_garden.heic"
      heif-enc -q 60 "$sample/png_rgba_logo.png" -o "$h/heic_alpha_logo.heic"
      heif-enc -q 70 -b 10 "$t/garden16.png" -o "$h/heic_10bit_garden.heic"
      heif-enc -q 80 "$sample/jpeg_grey_ladybird.jpg" -o "$h/heic_grey_ladybird.heic"
      heif-enc -q 75 "$t/odd.png" -o "$h/heic_odd_width.heic"
      heif-enc -L -p chroma=444 "$sample/png_palette_flower.png" -o "$h/heic_lossless_flower.heic"
      heif-enc -q 70 -A "$sample/jpeg_baseline_garden.jpg" -o "$h/avif_garden.avif"
      heif-enc -q 60 -A "$sample/png_rgba_logo.png" -o "$h/avif_alpha_logo.avif"
      avifenc -d 10 -y 420 "$t/garden16.png" "$h/avif_10bit_garden.avif"
      avifenc -d 10 -y 444 "$sample/png_16bit_rgba_wizard.png" "$h/avif_10bit_alpha_wizard.avif"
      avifenc -d 12 -y 422 "$t/garden16.png" "$h/avif_12bit_garden.avif"
      avifenc -y 400 "$sample/jpeg_grey_ladybird.jpg" "$h/avif_grey_ladybird.avif"
      avifenc -g 2x2 "$sample/jpeg_photo_large.jpg" "$h/avif_grid_photo.avif"
      avifenc --irot 1 "$sample/jpeg_baseline_garden.jpg" "$h/avif_rotated_garden.avif"
      avifenc --imir 1 "$sample/png_rgba_logo.png" "$h/avif_mirrored_logo.avif"
      avifenc --crop 100,40,500,300 "$sample/jpeg_baseline_garden.jpg" "$h/avif_cropped_garden.avif"
      avifenc "$t/odd.png" "$h/avif_odd_width.avif"
      find "$here/build/src/libheif" \( -name '*.heic' -o -name '*.avif' -o -name '*.heif' \) -exec cp {} "$h/" \;
      printf 'not a heif' >"$h/broken_text.heic"
      head -c 3000 "$h/heic_garden.heic" >"$h/broken_truncated.heic"
      head -c 3000 "$h/avif_garden.avif" >"$h/broken_truncated.avif"
      for f in heic_garden.heic avif_garden.avif; do
        cp "$h/$f" "$h/broken_overwritten_$f"
        head -c 2000 /dev/zero | tr '\0' '\125' | dd of="$h/broken_overwritten_$f" bs=1 seek=6000 conv=notrunc
      done
      rm -rf "$t"
    } >>"$work/make.log" 2>&1
    touch "$work/heif/.made"
  fi
  cp "$heifwin/plugins/heif.spi" "$work/spi-heif/"
else
  echo "plugin-conformance: no Windows build has heif.spi; the HEIF files are not checked"
fi
cp "$win/plugins/webp.spi" "$win/plugins/tiff.spi" "$work/spi/"
rm -f "$work/out"/*.bmp
winpath() { echo "Z:$1" | tr '/' '\\'; }

# probe BUILD SPI-FOLDER FILE...: each file through the plug-ins of SPI-FOLDER under Wine.
probe() {
  local build="$1" spi="$2" f args=()
  shift 2
  for f in "$@"; do args+=("$(winpath "$f")"); done
  "$here/tools/wine-run.sh" "$build/pravel-probe.exe" plugdecode --plugins "$(winpath "$spi")" \
    --out-dir "$(winpath "$work/out")" "${args[@]}" >>"$work/plugin.jsonl" 2>/dev/null || true
}
files=()
for f in "$work/webp"/*.webp "$work/tiff"/*.tif "$work/tiff"/*.tiff; do files+=("$f"); done
: >"$work/plugin.jsonl"
probe "$win" "$work/spi" "${files[@]}"
if [ -n "$heifwin" ]; then
  heiffiles=()
  for f in "$work/heif"/*.heic "$work/heif"/*.heif "$work/heif"/*.avif; do [ -f "$f" ] && heiffiles+=("$f"); done
  probe "$heifwin" "$work/spi-heif" "${heiffiles[@]}"
  echo "plugin-conformance: ${#heiffiles[@]} HEIC / AVIF files through build/$(basename "$heifwin")/plugins/heif.spi"
  files+=("${heiffiles[@]}")
fi

same=0 refused=0 accepted=0 failed=0
for f in "${files[@]}"; do
  name="$(basename "$f")"
  set +e
  line="$("$plugref" "$f" "$work/out/$name.bmp")"
  rc=$?
  set -e
  if [ "$rc" = 0 ]; then
    if grep -q '"reference":false' <<<"$line"; then refused=$((refused + 1)); else same=$((same + 1)); fi
  elif [ -n "${ACCEPTED[$name]:-}" ]; then
    accepted=$((accepted + 1))
    echo "accepted: $name: ${ACCEPTED[$name]} $line"
  else
    failed=$((failed + 1))
    echo "DIFFERS: $line"
  fi
done
echo "plugin-conformance: ${#files[@]} files: $same same pixels, $refused refused by both, $accepted accepted differences, $failed failures"
[ "$failed" = 0 ]
