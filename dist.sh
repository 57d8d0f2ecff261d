#!/usr/bin/env bash
# The portable package a Windows user downloads: build/dist/Pravel-<version>-win32.zip with
# the shipped 32-bit Pravel.exe, Pravel.chm, plugins/ (the release plug-ins), readme.txt
# and licenses/. Works from a clean clone: runs the set-up, builds what is missing (the
# i686 Windows build, and the native build's help compiler), then packs.
#
#   ./dist.sh            build/dist/Pravel-<version>-win32.zip (the release)
#   ./dist.sh --win64    build/dist/Pravel-<version>-win64.zip, the same package from the
#                        x86_64 build (for machines that cannot run 32-bit programs)
#
# The version is the VERSION file's.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
arch=i686 dir=win toolchain=mingw-i686.cmake suffix=win32
if [ "${1:-}" = "--win64" ]; then arch=x86_64 dir=win64 toolchain=mingw-x86_64.cmake suffix=win64; fi
version="$(head -n 1 VERSION | tr -d '[:space:]')"

# Only what the package needs: the packages and the cross-built libraries (no Wine prefix,
# test data or sample folder).
tools/setup.sh packages deps

export CCACHE_BASEDIR="$here"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The same configurations as test.sh, so that the two share their build folders.
configure() {
  local d="$1"; shift
  [ -f "build/$d/build.ninja" ] && return 0
  mkdir -p build
  cmake -S "$here" -B "build/$d" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" \
    >"build/$d.configure.log" 2>&1 || { cat "build/$d.configure.log"; echo "dist: configuring build/$d failed" >&2; exit 1; }
}
configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
configure host -DPRAVEL_SANITIZE=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

targets=(Pravel)
for p in webp tiff heif; do
  ninja -C "build/$dir" -t query "$p" >/dev/null 2>&1 && targets+=("$p")
done
cmake --build "build/$dir" -j2 --target "${targets[@]}" >"build/dist-$dir.build.log" 2>&1 \
  || { tail -n 30 "build/dist-$dir.build.log"; echo "dist: building build/$dir failed" >&2; exit 1; }
cmake --build build/host -j2 --target pravel_help >"build/dist-host.build.log" 2>&1 \
  || { tail -n 30 build/dist-host.build.log; echo "dist: building the help file failed" >&2; exit 1; }

mkdir -p build/dist
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || date +%s)"
export SOURCE_DATE_EPOCH
python3 tools/dist-package.py --arch "$arch" --build "build/$dir" --chm build/host/Pravel.chm \
  --version "$version" --out "build/dist/Pravel-$version-$suffix"
