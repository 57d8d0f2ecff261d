# Sourced by tools/setup.sh (uses its say, run, die and fetch_source): fills build/testdata with
# conformance suites from Debian source packages and real photographs from wallpaper packages.
# Each folder is complete once its ".complete" mark exists; a half-filled folder is redone.
#
#   pngsuite/  the complete PngSuite (libspng's tests/images; libpng's copy is only a subset)
#   bmpsuite/  bmpsuite (pillow Tests/images/bmp: g/ good, b/ bad, q/ questionable, html/ references)
#   jpeg/      libjpeg-turbo testimages
#   giflib/    giflib pic/ (images) and tests/ (expected dumps)
#   tiff/      libtiff test/images
#   exif/      camera JPEGs with Exif (exiftool t/images, pillow Tests/images)
#   photos/    large real JPEG and PNG photographs (mate, ukui and lxqt wallpapers)

TD="$B/testdata"

# testdata_folder NAME FUNCTION: runs FUNCTION DEST unless NAME is complete.
testdata_folder() {
  local name="$1" fn="$2" dest="$TD/$1"
  [ -f "$dest/.complete" ] && return 0
  say "test data: $name"
  rm -rf "$dest" "$dest.tmp"
  mkdir -p "$dest.tmp"
  "$fn" "$dest.tmp"
  local n
  n=$(find "$dest.tmp" -type f | wc -l)
  [ "$n" -gt 0 ] || die "test data $name came out empty"
  mv "$dest.tmp" "$dest"
  touch "$dest/.complete"
}

td_pngsuite() {
  local src; src="$(fetch_source libspng)"
  cp -a "$src/tests/images/." "$1/"
}

td_bmpsuite() {
  local src; src="$(fetch_source pillow)"
  cp -a "$src/Tests/images/bmp/." "$1/"
}

td_jpeg() {
  local src; src="$(fetch_source libjpeg-turbo)"
  cp -a "$src/testimages/." "$1/"
}

td_giflib() {
  local src; src="$(fetch_source giflib)"
  mkdir -p "$1/pic" "$1/tests"
  cp -a "$src/pic/." "$1/pic/"
  cp -a "$src/tests/." "$1/tests/"
}

td_tiff() {
  local src; src="$(fetch_source tiff)"
  cp -a "$src/test/images/." "$1/"
}

# A JPEG carries Exif when an APP1 segment starting "Exif\0\0" is among its first bytes.
has_exif() { head -c 65536 "$1" | grep -aq 'Exif'; }

td_exif() {
  local src f
  src="$(fetch_source libimage-exiftool-perl)"
  mkdir -p "$1/exiftool" "$1/pillow"
  for f in "$src"/t/images/*.jpg "$src"/t/images/*.JPG; do
    [ -f "$f" ] && has_exif "$f" && cp "$f" "$1/exiftool/"
  done
  src="$(fetch_source pillow)"
  for f in "$src"/Tests/images/*.jpg "$src"/Tests/images/*.jpeg "$src"/Tests/images/*.JPG; do
    [ -f "$f" ] && has_exif "$f" && cp "$f" "$1/pillow/"
  done
  return 0
}

# Binary packages are downloaded into build/src/deb and unpacked into build/src/root/<pkg>.
fetch_binary() {
  local pkg="$1" root="$B/src/root/$1"
  if [ -f "$root/.unpacked" ]; then echo "$root"; return 0; fi
  mkdir -p "$B/src/deb"
  if ! ls "$B/src/deb/${pkg}"_*.deb >/dev/null 2>&1; then
    say "downloading the $pkg package" >&2
    (cd "$B/src/deb" && run apt-get download -q "$pkg")
  fi
  rm -rf "$root"
  mkdir -p "$root"
  run dpkg -x "$(ls "$B/src/deb/${pkg}"_*.deb | head -n 1)" "$root"
  touch "$root/.unpacked"
  echo "$root"
}

# photos: every JPEG of at least 60 KB and every PNG of at least 500 KB, named after its package.
td_photos() {
  local pkg root f base
  for pkg in mate-backgrounds ukui-wallpapers lxqt-themes; do
    root="$(fetch_binary "$pkg")"
    while IFS= read -r -d '' f; do
      base="$(basename "$f")"
      cp "$f" "$1/${pkg%%-*}-$base"
    done < <(find "$root" -type f \( \( -iname '*.jpg' -size +60k \) -o \( -iname '*.png' -size +500k \) \) -print0)
  done
}

fetch_testdata() {
  testdata_folder pngsuite td_pngsuite
  testdata_folder bmpsuite td_bmpsuite
  testdata_folder jpeg td_jpeg
  testdata_folder giflib td_giflib
  testdata_folder tiff td_tiff
  testdata_folder exif td_exif
  testdata_folder photos td_photos
}
