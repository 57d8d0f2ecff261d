#!/usr/bin/env bash
# The package as a user meets it: unpacked into an empty folder, started in a fresh Wine
# prefix on a folder of WebP, LZW-compressed TIFF and PNG files, with no settings at all. It
# must list and decode the WebP and TIFF files through its own plugins/ folder (their cache
# records carry the plug-in format 0), leave "SPI" empty in the settings it writes at exit,
# write nothing beside the program, and every program file must carry its version resource.
#
#   tests/dist/test_package.sh SOURCE_DIR BUILD_AREA
# Tests the 32-bit release zip where this kernel runs 32-bit processes, else the same package
# made from the x86_64 build (./dist.sh --win64). PRAVEL_SHOT=FILE also saves a screenshot.
set -uo pipefail
src="$1"; area="$2"
version="$(head -n 1 "$src/VERSION" | tr -d '[:space:]')"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then suffix=win32 arch=i686; else suffix=win64 arch=x86_64; fi
zip="$area/dist/Pravel-$version-$suffix.zip"
if [ ! -f "$zip" ]; then
  [ "${PRAVEL_REQUIRE_WINDOWS_BUILDS:-}" = 1 ] && { echo "FAIL: $zip is missing (./dist.sh)"; exit 1; }
  echo "SKIP: $zip not built"; exit 77
fi
ctlexe="$area/win64/pravel-ctl.exe"; [ -f "$ctlexe" ] || ctlexe="$area/win/pravel-ctl.exe"
[ -f "$ctlexe" ] || { echo "FAIL: no pravel-ctl.exe in $area/win64 or $area/win"; exit 1; }
work="$area/dist-test/$suffix"
rm -rf "$work"; mkdir -p "$work/app" "$work/images"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
winpath() { echo "Z:$1" | tr '/' '\\'; }

python3 -m zipfile -e "$zip" "$work/app" || { echo "FAIL: cannot unpack $zip"; exit 1; }
app="$work/app/Pravel-$version-$suffix"
[ -f "$app/Pravel.exe" ] && [ -f "$app/plugins/webp.spi" ] && [ -f "$app/plugins/tiff.spi" ] || { echo "FAIL: the package lacks the program or its plug-ins"; exit 1; }
ls "$app/plugins" | grep -qi '^tpic' && bad "a test plug-in was packed"
before="$(cd "$app" && find . | sort)"

# Every module names itself, the product and the package's version.
for m in "$app"/Pravel.exe "$app"/plugins/*.spi; do
  rc="$("$arch-w64-mingw32-windres" -J coff -i "$m" -O rc 2>/dev/null)"
  for want in "VALUE \"ProductName\", \"Pravel\"" "VALUE \"FileVersion\", \"$version\"" \
              "VALUE \"OriginalFilename\", \"$(basename "$m")\"" "VALUE \"LegalCopyright\", \"Copyright (C)"; do
    grep -qF "$want" <<<"$rc" || bad "$(basename "$m"): no $want in its version resource"
  done
done

sample="$area/sample"
cwebp -quiet -q 80 "$sample/png_rgb_garden.png" -o "$work/images/garden.webp" || bad "cwebp failed"
convert "$sample/png_rgb_garden.png" -compress LZW "$work/images/garden_lzw.tif" || bad "convert failed"
cp "$sample/png_rgb_garden.png" "$work/images/garden.png"
shown=(garden.webp garden_lzw.tif)
if [ -f "$app/plugins/heif.spi" ]; then
  heif-enc -q 70 "$sample/png_rgb_garden.png" -o "$work/images/garden.heic" >/dev/null 2>&1 || bad "heif-enc failed"
  heif-enc -q 70 -A "$sample/png_rgb_garden.png" -o "$work/images/garden.avif" >/dev/null 2>&1 || bad "heif-enc -A failed"
  shown+=(garden.heic garden.avif)
fi

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . "$src/tools/xvfb.sh"
  pravel_start_xvfb
fi
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINELOADER WINESERVER
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1; [ -n "${PRAVEL_XVFB_PID:-}" ] && kill "$PRAVEL_XVFB_PID" 2>/dev/null' EXIT
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || { echo "FAIL: a fresh Wine prefix could not be made"; exit 1; }
# A Japanese Windows has Japanese UI fonts; give the fresh prefix the same font names.
[ -f "$area/wine-fonts.reg" ] && /usr/lib/wine/wine64 regedit /S "$(winpath "$area/wine-fonts.reg")" >/dev/null 2>&1
/usr/lib/wine/wineserver -w

ctl() { "$src/tools/wine-run.sh" "$ctlexe" "$@"; }
"$src/tools/wine-run.sh" "$app/Pravel.exe" "$(winpath "$work/images")" >"$work/pravel.log" 2>&1 &
pravel=$!
ctl wait Pravel_main_class 180000 >/dev/null || { echo "FAIL: the main window did not appear"; kill "$pravel"; exit 1; }

# The load writes the folder's cache when it is done: wait for a complete data file.
appdata="$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -name Roaming | head -n 1)"
cache="$appdata/Pravel/cache"
records() {  # name, format, thumbnail width and height of every record of the data files
  python3 - "$cache" <<'PY'
import glob, struct, sys
for path in sorted(glob.glob(sys.argv[1] + "/1*.dat")):
    data = open(path, "rb").read()
    if len(data) < 8 or struct.unpack_from("<I", data, 0)[0] != 0x00C80000: continue
    count, at = struct.unpack_from("<I", data, 4)[0], 8
    for _ in range(count):
        if at + 572 > len(data): break
        name = data[at:at + 520].decode("utf-16-le").split("\0")[0]
        fmt, = struct.unpack_from("<i", data, at + 540)
        w, h, size = struct.unpack_from("<iiI", data, at + 560)
        print(name, fmt, w, h)
        at += 572 + size
PY
}
for _ in $(seq 1 120); do
  [ "$(records 2>/dev/null | wc -l)" -ge $((${#shown[@]} + 1)) ] && break
  sleep 1
done
[ -n "${PRAVEL_SHOT:-}" ] && { sleep 2; import -window root "$PRAVEL_SHOT"; echo "screenshot: $PRAVEL_SHOT"; }
ctl close Pravel_main_class 60000 >/dev/null || bad "Pravel did not close"
wait "$pravel"

list="$(records)"
echo "cache records (name format width height):"; echo "$list" | sed 's/^/  /'
for f in "${shown[@]}"; do
  grep -qE "^$f 0 [1-9][0-9]* [1-9][0-9]*$" <<<"$list" || bad "$f was not shown through a bundled plug-in"
done
grep -qE '^garden.png [1-9]' <<<"$list" || bad "garden.png was not shown"
ini="$appdata/Pravel/Pravel.ini"
[ -f "$ini" ] || bad "no settings were written at exit ($ini)"
tr -d '\r' <"$ini" 2>/dev/null | grep -qx 'SPI=' || bad "the settings name a plug-in folder: $(grep -a SPI "$ini")"
after="$(cd "$app" && find . | sort)"
[ "$before" = "$after" ] || bad "files appeared beside the program: $(diff <(echo "$before") <(echo "$after") | grep '^>')"
[ "$fail" = 0 ] && echo "package $zip: started from an empty folder in a fresh prefix, plug-ins found and used"
exit "$fail"
