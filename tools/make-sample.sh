# Sourced by tools/setup.sh (uses its say, run, die and B): builds build/sample, the folder of
# real pictures that ./run.sh opens by default, in every kind the decoders meet. The pictures
# are ImageMagick's built-in images, the libjpeg-turbo test image and a few wallpaper photographs
# from build/testdata/photos, converted with ImageMagick; PNG text chunks are added by a small
# Python step, Exif by exiftool. Regenerated when SAMPLE_VERSION changes.

SAMPLE_VERSION=4

# png_add_text IN OUT KEY=VALUE...: copies a PNG, inserting tEXt chunks after IHDR. Values are
# given as UTF-8 and stored in Shift_JIS (the ANSI code page of a Japanese system).
png_add_text() {
  /usr/bin/python3 - "$@" <<'EOF'
import struct, sys, zlib
src, dst, pairs = sys.argv[1], sys.argv[2], sys.argv[3:]
data = open(src, 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n'
ihdr_end = 8 + 12 + struct.unpack('>I', data[8:12])[0]
chunks = b''
for pair in pairs:
    key, value = pair.split('=', 1)
    body = key.encode('latin-1') + b'\0' + value.encode('shift_jis')
    chunks += struct.pack('>I', len(body)) + b'tEXt' + body + \
        struct.pack('>I', zlib.crc32(b'tEXt' + body) & 0xffffffff)
open(dst, 'wb').write(data[:ihdr_end] + chunks + data[ihdr_end:])
EOF
}

make_sample_into() {
  local d="$1" w="$B/src/sample-work"
  # One thread: ImageMagick's OpenMP threads spin badly on a busy machine.
  export MAGICK_THREAD_LIMIT=1
  rm -rf "$w"; mkdir -p "$w"
  local photos="$B/testdata/photos"
  local jpegs="$B/testdata/jpeg"
  # Source pictures (all real): PNG intermediates keep them lossless.
  run convert rose: -strip "$w/rose.png"
  run convert logo: -strip "$w/logo.png"
  run convert wizard: -strip "$w/wizard.png"
  run convert "$jpegs/testorig.jpg" -strip "$w/testorig.png"
  run convert -define jpeg:size=1600x1000 "$photos/mate-LadyBird.jpg" -strip -resize 800x "$w/ladybird.png"
  run convert -define jpeg:size=1280x800 "$photos/mate-YellowFlower.jpg" -strip -resize 640x "$w/flower.png"
  run convert -define jpeg:size=2048x1280 "$photos/mate-Garden.jpg" -strip -resize 1024x "$w/garden.png"
  run convert -define jpeg:size=2560x1600 "$photos/ukui-the-mouse.jpg" -strip -resize 1280x "$w/mouse.png"

  # BMP: 1, 4, 8 (plain and RLE), 16 (565 and 1555 with alpha), 24 and 32 bits per pixel
  run convert "$w/logo.png" -resize 320x -monochrome BMP3:"$d/bmp_1bit_logo.bmp"
  run convert "$w/wizard.png" -dither FloydSteinberg -colors 16 -type Palette -compress None BMP3:"$d/bmp_4bit_wizard.bmp"
  run convert "$w/flower.png" -colors 256 -type Palette -compress None BMP3:"$d/bmp_8bit_flower.bmp"
  run convert "$w/logo.png" -resize 400x -colors 200 -type Palette -compress RLE BMP3:"$d/bmp_8bit_rle_logo.bmp"
  run convert "$w/testorig.png" -define bmp:subtype=RGB565 BMP:"$d/bmp_16bit_565.bmp"
  run convert "$w/rose.png" -resize 300% -alpha set -define bmp:subtype=ARGB1555 BMP:"$d/bmp_16bit_1555.bmp"
  run convert "$w/ladybird.png" -type TrueColor BMP3:"$d/bmp_24bit_ladybird.bmp"
  run convert "$w/wizard.png" -fuzz 8% -transparent white -type TrueColorAlpha BMP:"$d/bmp_32bit_wizard.bmp"
  # a bottom-up and a top-down 24-bit image of the same picture
  run /usr/bin/python3 -c "
from PIL import Image
Image.open('$w/rose.png').convert('RGB').resize((210,138)).save('$w/rose24.bmp')
d = bytearray(open('$w/rose24.bmp','rb').read())
import struct
off, = struct.unpack_from('<I', d, 10); w, h = struct.unpack_from('<ii', d, 18)
stride = (w*3+3)//4*4
rows = [d[off+i*stride:off+(i+1)*stride] for i in range(h)]
d[off:off+h*stride] = b''.join(reversed(rows)); struct.pack_into('<i', d, 22, -h)
open('$d/bmp_24bit_topdown_rose.bmp','wb').write(d)"

  # PNG: palette, palette with transparency, grey, grey+alpha, RGB, RGBA, interlaced, 16-bit, text
  run convert "$w/flower.png" PNG8:"$d/png_palette_flower.png"
  run convert "$w/wizard.png" -fuzz 8% -transparent white PNG8:"$d/png_palette_trns_wizard.png"
  run convert "$w/ladybird.png" -colorspace Gray -define png:color-type=0 -depth 8 "$d/png_grey_ladybird.png"
  run convert "$w/logo.png" -resize 400x -colorspace Gray -define png:bit-depth=4 -define png:color-type=0 "$d/png_grey4_logo.png"
  run convert "$w/wizard.png" -fuzz 8% -transparent white PNG32:"$w/wizard_alpha.png"
  run /usr/bin/python3 -c "from PIL import Image; Image.open('$w/wizard_alpha.png').convert('LA').save('$d/png_grey_alpha_wizard.png')"
  run convert "$w/garden.png" PNG24:"$d/png_rgb_garden.png"
  run convert "$w/logo.png" -fuzz 5% -transparent white PNG32:"$d/png_rgba_logo.png"
  run convert "$w/mouse.png" -interlace PNG PNG24:"$d/png_interlaced_mouse.png"
  run convert "$w/ladybird.png" -depth 16 PNG48:"$d/png_16bit_ladybird.png"
  run convert "$w/wizard.png" -fuzz 8% -transparent white -depth 16 PNG64:"$d/png_16bit_rgba_wizard.png"
  run convert "$w/flower.png" -strip PNG24:"$w/text.png"
  png_add_text "$w/text.png" "$d/png_text_flower.png" \
    "Title=Yellow flower" "Author=Pravel sample" "Comment=黄色い花のコメント" \
    >>"$LOG" 2>&1 || die "png text"
  # 薔薇 = rose: a Japanese file name
  run convert "$w/rose.png" -resize 400% PNG24:"$d/薔薇.png"

  # GIF: plain, interlaced, transparent, animated
  run convert "$w/wizard.png" "$d/gif_plain_wizard.gif"
  run convert "$w/flower.png" -interlace GIF "$d/gif_interlaced_flower.gif"
  run convert "$w/logo.png" -resize 320x -transparent white "$d/gif_transparent_logo.gif"
  run convert -delay 25 -loop 0 \
    "$w/rose.png" \( "$w/rose.png" -flop \) \( "$w/rose.png" -flip \) \( "$w/rose.png" -rotate 180 \) \
    -resize 300% "$d/gif_animated_rose.gif"

  # TIFF, uncompressed: bilevel, grey, palette, RGB 8 and 16 bits, small strips
  run convert "$w/logo.png" -resize 400x -monochrome -type Bilevel -depth 1 -compress None "$d/tiff_bilevel_logo.tif"
  run convert "$w/ladybird.png" -colorspace Gray -depth 8 -compress None -define tiff:rows-per-strip=16 "$d/tiff_grey_ladybird.tif"
  run convert "$w/flower.png" -colors 256 -type Palette -compress None "$d/tiff_palette_flower.tif"
  run convert "$w/garden.png" -type TrueColor -depth 8 -compress None "$d/tiff_rgb8_garden.tif"
  run convert "$w/testorig.png" -type TrueColor -depth 16 -compress None "$d/tiff_rgb16_testorig.tif"
  run convert "$w/wizard.png" -type TrueColor -depth 8 -compress None \
    -define tiff:rows-per-strip=7 "$d/tiff_rgb8_strips_wizard.tif"

  # JPEG: baseline, progressive, grey, with a COM comment, with Exif
  run convert "$w/garden.png" -quality 90 -sampling-factor 2x2 "$d/jpeg_baseline_garden.jpg"
  run convert "$w/mouse.png" -quality 85 -interlace JPEG "$d/jpeg_progressive_mouse.jpg"
  run convert "$w/ladybird.png" -colorspace Gray -quality 90 "$d/jpeg_grey_ladybird.jpg"
  run convert "$w/flower.png" -quality 88 -set comment "A yellow flower (sample comment)" "$d/jpeg_comment_flower.jpg"
  # a Japanese comment, stored in Shift_JIS like the comments a Japanese system writes
  run /usr/bin/python3 -c "
import struct
d = open('$d/jpeg_comment_flower.jpg', 'rb').read()
body = 'コメント：黄色い花'.encode('shift_jis')
com = b'\\xff\\xfe' + struct.pack('>H', len(body) + 2) + body
open('$d/jpeg_comment_sjis_flower.jpg', 'wb').write(d[:2] + com + d[2:])"
  run cp "$jpegs/testorig.jpg" "$d/jpeg_testorig.jpg"
  run convert "$w/ladybird.png" -quality 92 -sampling-factor 1x1 "$d/jpeg_exif_ladybird.jpg"
  run exiftool -q -overwrite_original -Make=Pravel -Model="Sample Camera 1" \
    -DateTimeOriginal="2021:05:04 10:20:30" -CreateDate="2021:05:04 10:20:30" \
    -ExposureTime=1/250 -FNumber=5.6 -ISO=200 -FocalLength=50 -Flash=16 \
    -ExposureProgram="Aperture-priority AE" -Orientation#=1 "$d/jpeg_exif_ladybird.jpg"
  # 風景 = landscape: a Japanese file name, a full-size wallpaper photograph
  run cp "$photos/mate-Dune.jpg" "$d/風景_砂丘.jpg"
  run cp "$photos/ukui-2004default.jpg" "$d/jpeg_photo_large.jpg"

  # Real camera files with maker data in a subfolder
  mkdir -p "$d/カメラ"
  local f
  for f in Canon.jpg Nikon.jpg FujiFilm.jpg Olympus.jpg; do
    [ -f "$B/testdata/exif/exiftool/$f" ] && cp "$B/testdata/exif/exiftool/$f" "$d/カメラ/"
  done
  cp "$B/testdata/exif/pillow/flower.jpg" "$d/カメラ/" 2>/dev/null || true

  # A damaged file: the program must show it as unreadable, not crash.
  head -c 6000 "$d/jpeg_baseline_garden.jpg" >"$d/broken_truncated.jpg"
  rm -rf "$w"
}

make_sample() {
  local d="$B/sample" stamp="$B/.sample-version"
  [ -d "$d" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$SAMPLE_VERSION" ] && return 0
  [ -d "$B/testdata/photos" ] && [ -d "$B/testdata/jpeg" ] || die "the sample needs build/testdata"
  say "making the sample folder build/sample"
  rm -rf "$d" "$d.tmp"
  mkdir -p "$d.tmp"
  make_sample_into "$d.tmp"
  mv "$d.tmp" "$d"
  echo "$SAMPLE_VERSION" >"$stamp"
}
