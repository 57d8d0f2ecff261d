#!/usr/bin/env bash
# Prepares a Debian 12 machine for building, testing and running Pravel. Idempotent and quiet
# when everything is already in place; every stage that does work prints one line and logs its
# commands to build/setup.log.
#
#   packages   : i386 architecture, compilers, Wine, Xvfb, ImageMagick, fonts, reference libraries
#   deps       : Debian's libjpeg-turbo source cross-built static (SIMD on) for i686 and x86_64
#                into build/deps/<arch>/{include,lib/libjpeg.a}; libwebp (with its demuxer) and
#                libtiff (LZW, Deflate, PackBits, JPEG) the same way for the image plug-ins;
#                libheif with libde265 (HEVC) and dav1d (AV1), decoders only, for the HEIF
#                plug-in: for i686 (the shipped build), and for x86_64 too where the kernel
#                refuses 32-bit processes (there the 64-bit build runs the Windows tests)
#   wineprefix : build/wineprefix, a 64-bit Wine prefix with the Japanese UI fonts mapped to IPA (P)Gothic
#   testdata   : conformance suites and real photographs in build/testdata (tools/fetch-testdata.sh)
#   sample     : build/sample, the sample folder for ./run.sh (tools/make-sample.sh)
#
# Usage: tools/setup.sh [STAGE...]   (default: every stage, in the order above)
# Must run as root when packages are missing; afterwards any user may run it.
set -euo pipefail
shopt -s inherit_errexit

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
B="$here/build"
mkdir -p "$B"
LOG="$B/setup.log"
export DEBIAN_FRONTEND=noninteractive

say() { echo "setup: $*"; }
die() { echo "setup: ERROR: $*" >&2; [ -f "$LOG" ] && tail -n 15 "$LOG" >&2; exit 1; }
# run CMD...: logged, silent on success, the log's tail on failure.
run() { echo "+ $*" >>"$LOG"; "$@" >>"$LOG" 2>&1 || die "failed: $*"; }

# One set-up at a time per tree (engineers and test runs share build/).
exec 9>"$B/.setup.lock"
flock 9

# ------------------------------------------------------------------------------------ packages
PACKAGES=(
  # Windows cross compilers and the Windows zlib
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev nasm
  # Wine (32-bit where the kernel runs 32-bit processes, 64-bit everywhere), display, screenshots
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick xdotool fonts-ipafont-gothic
  # native build, tests, fuzzers, benchmarks
  g++ cmake ninja-build ccache pkg-config googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  zlib1g-dev libjpeg62-turbo-dev libpng-dev libspng-dev libgif-dev libtiff-dev
  # reference tools and test-data handling
  libjpeg-turbo-progs libvips-tools libimage-exiftool-perl python3-pil dpkg-dev xz-utils bzip2
  # the image plug-ins' reference decoders and the tools that make their test files (the
  # native libheif comes with its examples; avifenc also makes 10-bit and grid AVIF); meson
  # builds dav1d
  libwebp-dev webp libheif-examples libavif-bin meson
  # the help file compiler (chmcmd) and its reader (chmls)
  fp-utils
  util-linux ca-certificates
)

apt_updated=0
apt_update() {
  [ "$apt_updated" = 1 ] && return 0
  # A mirror in the middle of a sync can serve one index of the wrong size: try again a few
  # times, then go on with the lists that did arrive (the install says if a package is missing).
  local try
  for try in 1 2 3; do
    echo "+ apt-get update -q (try $try)" >>"$LOG"
    if apt-get update -q >>"$LOG" 2>&1; then apt_updated=1; return 0; fi
    [ "$try" = 3 ] || sleep 5
  done
  say "apt-get update failed for some index files (see build/setup.log); going on with the lists it fetched"
  apt_updated=1
  apt_incomplete=1
}
apt_incomplete=0

need_root() {
  [ "$(id -u)" = 0 ] || die "$1 needs root (run tools/setup.sh as root once)"
}

stage_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root "adding the i386 architecture"
    say "adding the i386 architecture"
    run dpkg --add-architecture i386
    apt_updated=0
    apt_update
  fi
  # One query for the common case (everything installed), one per package otherwise.
  local n
  n=$(dpkg-query -W -f='${db:Status-Abbrev}\n' "${PACKAGES[@]}" 2>/dev/null | grep -c '^ii ' || true)
  [ "$n" -eq ${#PACKAGES[@]} ] && return 0
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null)" != "ii " ]; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  need_root "installing ${missing[*]}"
  say "installing ${missing[*]}"
  apt_update
  echo "+ apt-get install -y -q ${missing[*]}" >>"$LOG"
  apt-get install -y -q "${missing[@]}" >>"$LOG" 2>&1 && return 0
  [ "$apt_incomplete" = 1 ] || die "failed: apt-get install -y -q ${missing[*]}"
  # Without one index (say the security suite's i386 list) the resolver may upgrade an amd64
  # library from it and then find no i386 package of the same version: take the release's
  # own suite, where both architectures match.
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  run apt-get install -y -q ${suite:+-t "$suite"} "${missing[@]}"
}

# Source packages need a deb-src entry; mirror the deb entries of the Debian sources file.
ensure_deb_src() {
  if grep -qsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
       /etc/apt/sources.list.d/*.list 2>/dev/null; then
    if apt-cache showsrc libjpeg-turbo 2>/dev/null | grep -q '^Package:'; then return 0; fi
    need_root "reading source package lists"
    apt_updated=0; apt_update; return 0
  fi
  need_root "adding a deb-src entry"
  local src=/etc/apt/sources.list.d/debian.sources
  [ -f "$src" ] || die "no $src to mirror a deb-src entry from"
  say "adding deb-src entries mirroring $src"
  sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$src" \
    >/etc/apt/sources.list.d/pravel-deb-src.sources
  apt_updated=0
  apt_update
}

# fetch_source PKG: Debian source package PKG unpacked into build/src/PKG (the download is kept
# in build/src/dl). Prints the unpacked folder.
fetch_source() {
  local pkg="$1" dir="$B/src/$1"
  if [ -f "$dir/.unpacked" ]; then echo "$dir"; return 0; fi
  ensure_deb_src >&2
  mkdir -p "$B/src/dl/$pkg"
  if ! ls "$B/src/dl/$pkg"/*.dsc >/dev/null 2>&1; then
    say "downloading the $pkg source package" >&2
    # The newest version first; a security update's source can be missing from the archive,
    # then an older version of the same release does.
    local v ok=0
    for v in "" $(apt-cache showsrc "$pkg" 2>/dev/null | sed -n 's/^Version: //p'); do
      rm -f "$B/src/dl/$pkg"/*
      echo "+ apt-get source --download-only $pkg${v:+=$v}" >>"$LOG"
      if (cd "$B/src/dl/$pkg" && apt-get source --download-only -q "$pkg${v:+=$v}") >>"$LOG" 2>&1; then
        ok=1; break
      fi
    done
    [ "$ok" = 1 ] || die "could not download the $pkg source package"
  fi
  local dsc
  dsc="$(ls "$B/src/dl/$pkg"/*.dsc | head -n 1)"
  rm -rf "$dir" "$dir.tmp"
  run dpkg-source --no-check -x "$dsc" "$dir.tmp"
  touch "$dir.tmp/.unpacked"
  mv "$dir.tmp" "$dir"
  echo "$dir"
}

# cross_build PKG ARCH TOOLCHAIN "TARGETS" CMAKE-ARGS...: the Debian source package PKG
# configured with CMake (Release) for the toolchain in a fresh folder build/src/PKG-build-ARCH,
# and TARGETS built there. Sets the caller's srcdir and bdir for its install step.
cross_build() {
  local pkg="$1" arch="$2" toolchain="$3" targets="$4"
  shift 4
  srcdir="$(fetch_source "$pkg")"
  say "building $pkg for $arch"
  bdir="$B/src/$pkg-build-$arch"
  rm -rf "$bdir"
  run cmake -S "$srcdir" -B "$bdir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release "$@"
  # shellcheck disable=SC2086  # TARGETS is a list
  run cmake --build "$bdir" --target $targets
}

# ---------------------------------------------------------------------------- libjpeg-turbo
build_libjpeg() {
  local arch="$1" toolchain="$2" out="$B/deps/$1"
  [ -f "$out/lib/libjpeg.a" ] && [ -f "$out/include/jpeglib.h" ] && return 0
  local srcdir bdir
  cross_build libjpeg-turbo "$arch" "$toolchain" jpeg-static \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON \
    -DCMAKE_INSTALL_PREFIX="$out"
  # Only the library and the four public headers: the tools are not needed.
  local tmp="$out.tmp"
  rm -rf "$tmp"
  mkdir -p "$tmp/include" "$tmp/lib"
  cp "$bdir/libjpeg.a" "$tmp/lib/libjpeg.a"
  cp "$srcdir/jpeglib.h" "$srcdir/jmorecfg.h" "$srcdir/jerror.h" "$bdir/jconfig.h" "$tmp/include/"
  rm -rf "$out"
  mv "$tmp" "$out"
  rm -rf "$bdir"
}

# ---------------------------------------------------------------------- libwebp and libtiff
# Static, single-threaded, decoding only what the plug-ins need; installed beside libjpeg.
build_libwebp() {
  local arch="$1" toolchain="$2" out="$B/deps/$1"
  [ -f "$out/lib/libwebp.a" ] && [ -f "$out/lib/libwebpdemux.a" ] && [ -f "$out/include/webp/demux.h" ] && return 0
  local srcdir bdir
  cross_build libwebp "$arch" "$toolchain" "webp webpdemux" -DBUILD_SHARED_LIBS=OFF \
    -DWEBP_USE_THREAD=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
    -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
    -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_WEBP_JS=OFF
  mkdir -p "$out/lib" "$out/include/webp"
  cp "$bdir/libwebpdemux.a" "$out/lib/"
  cp "$srcdir/src/webp/decode.h" "$srcdir/src/webp/demux.h" "$srcdir/src/webp/mux_types.h" \
    "$srcdir/src/webp/types.h" "$out/include/webp/"
  cp "$bdir/libwebp.a" "$out/lib/"  # last: its presence marks the step done
  rm -rf "$bdir"
}

build_libtiff() {
  local arch="$1" toolchain="$2" out="$B/deps/$1"
  [ -f "$out/lib/libtiff.a" ] && [ -f "$out/include/tiffio.h" ] && return 0
  local srcdir bdir
  cross_build tiff "$arch" "$toolchain" tiff -DBUILD_SHARED_LIBS=OFF \
    -Dzlib=ON -Djpeg=ON -DJPEG_INCLUDE_DIR="$out/include" -DJPEG_LIBRARY="$out/lib/libjpeg.a" \
    -Dold-jpeg=OFF -Djpeg12=OFF -Dpixarlog=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Djbig=OFF -Dlerc=OFF \
    -Dlibdeflate=OFF -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
  mkdir -p "$out/lib" "$out/include"
  cp "$srcdir/libtiff/tiff.h" "$srcdir/libtiff/tiffio.h" "$srcdir/libtiff/tiffvers.h" \
    "$bdir/libtiff/tiffconf.h" "$out/include/"
  cp "$bdir/libtiff/libtiff.a" "$out/lib/"
  rm -rf "$bdir"
}

# ------------------------------------------------------------ libheif, libde265 and dav1d
# patched_source PKG PATCH...: fetch_source, then the patches from tools/deps applied once; a
# source patched with other patches (or none) is unpacked afresh. Prints the folder.
patched_source() {
  local pkg="$1" dir="$B/src/$1" want="" p
  shift
  for p in "$@"; do want="$want$(sha256sum <"$here/tools/deps/$p" | cut -c1-16)"; done
  if [ -f "$dir/.unpacked" ] && [ "$(cat "$dir/.patched" 2>/dev/null)" != "$want" ]; then rm -rf "$dir"; fi
  dir="$(fetch_source "$pkg")"
  if [ ! -f "$dir/.patched" ]; then
    for p in "$@"; do run patch -d "$dir" -p1 -i "$here/tools/deps/$p"; done
    echo "$want" >"$dir/.patched"
  fi
  echo "$dir"
}

# meson_cross ARCH FILE: a meson cross file for the mingw-w64 compilers with Win32 threads.
meson_cross() {
  local family="$1"
  [ "$1" = i686 ] && family=x86
  {
    echo "[binaries]"
    echo "c = '$1-w64-mingw32-gcc-win32'"
    echo "cpp = '$1-w64-mingw32-g++-win32'"
    echo "ar = '$1-w64-mingw32-ar'"
    echo "strip = '$1-w64-mingw32-strip'"
    echo "windres = '$1-w64-mingw32-windres'"
    echo "nasm = 'nasm'"
    echo "[host_machine]"
    echo "system = 'windows'"
    echo "cpu_family = '$family'"
    echo "cpu = '$1'"
    echo "endian = 'little'"
  } >"$2"
}

# The two libheif headers alone, for the native tools that run on the system's libheif: the
# include folder they come from also holds the cross-built libraries' headers (libtiff's
# configuration for Windows among them), which must not shadow the system's.
share_heif_headers() {
  local to="$B/deps/libheif-headers/libheif"
  [ -f "$to/heif.h" ] && [ -f "$to/heif_version.h" ] && return 0
  mkdir -p "$to"
  cp "$1/include/libheif/heif.h" "$1/include/libheif/heif_version.h" "$to/"
}

# The HEIF plug-in's libraries, static and decoding only. libheif is built without threads
# (the mingw C++ runtime with Win32 threads has no std::thread) and runs its decoders on the
# caller's thread. Built again when anything in tools/deps changes.
build_heif_stack() {
  local arch="$1" toolchain="$2" out="$B/deps/$1" stamp
  stamp="$(cd "$here/tools/deps" && find . -type f | sort | xargs sha256sum | sha256sum | cut -c1-16)"
  if [ "$(cat "$out/lib/.heif-stack" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$out/lib/libheif.a" "$out/lib/libde265.a" "$out/lib/libdav1d.a"
  fi
  [ -f "$out/lib/libheif.a" ] && [ -f "$out/include/libheif/heif.h" ] && { share_heif_headers "$out"; return 0; }
  local srcdir bdir
  mkdir -p "$out/lib" "$out/include/libde265" "$out/include/dav1d" "$out/include/libheif"

  # libde265: only its decoder, through our own list of its sources.
  if [ ! -f "$out/lib/libde265.a" ]; then
    srcdir="$(patched_source libde265 libde265-windows-locks.patch)"
    say "building libde265 (decoder) for $arch"
    bdir="$B/src/libde265-build-$arch"
    rm -rf "$bdir"
    run cmake -S "$here/tools/deps/libde265" -B "$bdir" -G Ninja -DDE265_SOURCE_DIR="$srcdir" \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release
    run cmake --build "$bdir" --target de265
    cp "$srcdir/libde265/de265.h" "$bdir/libde265/de265-version.h" "$out/include/libde265/"
    cp "$bdir/libde265.a" "$out/lib/"
    rm -rf "$bdir"
  fi

  # dav1d (meson): 8- and 16-bit pixels, with its assembly.
  if [ ! -f "$out/lib/libdav1d.a" ]; then
    srcdir="$(patched_source dav1d dav1d-windows-5.1.patch)"
    say "building dav1d for $arch"
    bdir="$B/src/dav1d-build-$arch"
    rm -rf "$bdir" "$bdir.cross"
    meson_cross "$arch" "$bdir.cross"
    run meson setup "$bdir" "$srcdir" --cross-file "$bdir.cross" --buildtype=release --default-library=static \
      -Dbitdepths=8,16 -Denable_asm=true -Denable_tools=false -Denable_tests=false -Dlogging=false
    run ninja -C "$bdir" src/libdav1d.a
    cp "$srcdir"/include/dav1d/*.h "$bdir/include/dav1d/version.h" "$out/include/dav1d/"
    cp "$bdir/src/libdav1d.a" "$out/lib/"
    rm -rf "$bdir" "$bdir.cross"
  fi

  srcdir="$(patched_source libheif libheif-decoder-threads.patch)"
  cross_build libheif "$arch" "$toolchain" heif -DBUILD_SHARED_LIBS=OFF -DWITH_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DENABLE_PLUGIN_LOADING=OFF -DENABLE_MULTITHREADING_SUPPORT=OFF \
    -DENABLE_PARALLEL_TILE_DECODING=OFF -DWITH_GDK_PIXBUF=OFF -DWITH_X265=OFF -DWITH_AOM_ENCODER=OFF \
    -DWITH_AOM_DECODER=OFF -DWITH_RAV1E=OFF -DWITH_SvtEnc=OFF -DWITH_LIBDE265=ON -DWITH_DAV1D=ON \
    -DLIBDE265_INCLUDE_DIR="$out/include" -DLIBDE265_LIBRARY="$out/lib/libde265.a" \
    -DDAV1D_INCLUDE_DIR="$out/include" -DDAV1D_LIBRARY="$out/lib/libdav1d.a"
  # Without a decoder libheif still builds, and then refuses every file.
  local objects
  objects="$("$arch-w64-mingw32-ar" t "$bdir/libheif/libheif.a")"
  grep -q heif_decoder_libde265 <<<"$objects" && grep -q heif_decoder_dav1d <<<"$objects" \
    || die "libheif was built without its libde265 or dav1d decoder"
  cp "$srcdir/libheif/heif.h" "$bdir/libheif/heif_version.h" "$out/include/libheif/"
  cp "$bdir/libheif/libheif.a" "$out/lib/"  # last: its presence marks the step done
  echo "$stamp" >"$out/lib/.heif-stack"
  rm -rf "$bdir"
  rm -rf "$B/deps/libheif-headers"
  share_heif_headers "$out"
}

stage_deps() {
  build_libjpeg i686 mingw-i686.cmake
  build_libjpeg x86_64 mingw-x86_64.cmake
  build_libwebp i686 mingw-i686.cmake
  build_libwebp x86_64 mingw-x86_64.cmake
  build_libtiff i686 mingw-i686.cmake
  build_libtiff x86_64 mingw-x86_64.cmake
  build_heif_stack i686 mingw-i686.cmake
  # The 64-bit build runs the Windows tests only where 32-bit processes cannot run.
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then build_heif_stack x86_64 mingw-x86_64.cmake; fi
}

# ------------------------------------------------------------------------------- Wine prefix
WINE64=/usr/lib/wine/wine64
WINESRV=/usr/lib/wine/wineserver

write_font_reg() {
  # UTF-16 so that the Japanese face names survive. The proportional faces (the UI font
  # among them) go to IPAPGothic, the fixed-pitch ones to IPAGothic; at 12 pixels
  # IPAGothic's own bitmaps also draw "_" as nothing.
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    local f
    for f in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "MS PGothic" "ＭＳ Ｐゴシック" "ＭＳ UI Gothic"; do
      printf '"%s"="IPAPGothic"\r\n' "$f"
    done
    for f in "MS Gothic" "ＭＳ ゴシック"; do
      printf '"%s"="IPAGothic"\r\n' "$f"
    done
    printf '\r\n'
    # Xvfb has no window manager. Wine's managed top-level windows wait up to 2 s for one to
    # acknowledge every hide (each dialog closed, the main window at exit): unmanaged windows
    # need no such answer.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
    printf '"Managed"="N"\r\n\r\n'
  } | iconv -f UTF-8 -t UTF-16 >"$1"
}

stage_wineprefix() {
  local pfx="$B/wineprefix" mapped='"MS UI Gothic"="IPAPGothic"' unmanaged='"Managed"="N"'
  # A prefix made before the proportional mapping or the unmanaged windows is prepared again
  # (wineboot and the import leave what is already there).
  if [ -f "$pfx/.pravel-ready" ]; then
    grep -qF "$mapped" "$pfx/user.reg" && grep -qF "$unmanaged" "$pfx/user.reg" && return 0
    rm -f "$pfx/.pravel-ready"
  fi
  say "preparing the Wine prefix build/wineprefix"
  (
    export WINEPREFIX="$pfx" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset WINELOADER WINESERVER
    # shellcheck source=tools/xvfb.sh
    . "$here/tools/xvfb.sh"
    pravel_start_xvfb
    run "$WINE64" wineboot --init
    run "$WINESRV" -w
    write_font_reg "$B/wine-fonts.reg"
    run "$WINE64" regedit /S "$(winepath_of "$B/wine-fonts.reg")"
    run "$WINESRV" -w
  )
  grep -qF "$mapped" "$pfx/user.reg" || die "the font replacements did not reach $pfx/user.reg"
  grep -qF "$unmanaged" "$pfx/user.reg" || die "the unmanaged-window setting did not reach $pfx/user.reg"
  touch "$pfx/.pravel-ready"
}

# Unix path -> Z:\ path (Wine maps / to Z:).
winepath_of() { echo "Z:$1" | tr '/' '\\'; }

# -------------------------------------------------------------------------- test data, sample
stage_testdata() {
  if [ -f "$here/tools/fetch-testdata.sh" ]; then
    . "$here/tools/fetch-testdata.sh"
    fetch_testdata
  fi
}

stage_sample() {
  if [ -f "$here/tools/make-sample.sh" ]; then
    . "$here/tools/make-sample.sh"
    make_sample
  fi
}

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(packages deps wineprefix testdata sample)
for s in "${stages[@]}"; do
  case "$s" in
    packages|deps|wineprefix|testdata|sample) "stage_$s" ;;
    *) die "unknown stage $s" ;;
  esac
done
