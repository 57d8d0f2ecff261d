#!/usr/bin/env bash
# Runs Pravel under Wine on a folder (default: the sample folder build/sample).
#
#   ./run.sh [FOLDER]                      run until the program is closed
#   ./run.sh --screenshot FILE [FOLDER]    wait until Pravel is shown and idle and its picture
#                                          has settled, save the screen to FILE, close Pravel
#                                          with WM_CLOSE (settings and cache are written as on a
#                                          normal exit) and wait for it to end
#
# Builds what is missing first (set-up, then the Windows build this machine can run: the
# i686 one where the kernel runs 32-bit processes, else the x86_64 one). Starts a private Xvfb
# when there is no DISPLAY.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

shot=""
if [ "${1:-}" = "--screenshot" ]; then
  [ $# -ge 2 ] || { echo "usage: ./run.sh [--screenshot FILE] [FOLDER]" >&2; exit 2; }
  shot="$(realpath -m "$2")"
  shift 2
fi
folder="$(realpath -m "${1:-$here/build/sample}")"

"$here/tools/setup.sh"

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  dir=win; toolchain=mingw-i686.cmake
else
  dir=win64; toolchain=mingw-x86_64.cmake
fi
bdir="$here/build/$dir"
# A build folder first configured with the POSIX-thread compilers keeps them: configure afresh.
if grep -qs -- '-posix"' "$bdir"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
  rm -rf "$bdir/CMakeCache.txt" "$bdir/CMakeFiles" "$bdir/build.ninja"
fi
if [ ! -f "$bdir/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$here" -B "$bdir" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >"$bdir.configure.log" 2>&1 \
    || { cat "$bdir.configure.log"; exit 1; }
fi
cmake --build "$bdir" -j2 --target Pravel pravel-ctl >"$bdir.run-build.log" 2>&1 \
  || { cat "$bdir.run-build.log"; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . "$here/tools/xvfb.sh"
  pravel_start_xvfb
fi

winpath() { echo "Z:$1" | tr '/' '\\'; }
args=()
[ -e "$folder" ] && args=("$(winpath "$folder")")

if [ -z "$shot" ]; then
  "$here/tools/wine-run.sh" "$bdir/Pravel.exe" "${args[@]}"
  exit $?
fi

ctl() { "$here/tools/wine-run.sh" "$bdir/pravel-ctl.exe" "$@"; }
"$here/tools/wine-run.sh" "$bdir/Pravel.exe" "${args[@]}" &
pravel=$!
if ! ctl wait Pravel_main_class 120000; then
  echo "run.sh: the Pravel main window did not appear" >&2
  kill "$pravel" 2>/dev/null || true
  exit 1
fi
# The panes load thumbnails on their own threads: wait until two screens a second apart are
# the same (at most a minute).
tmp="$(mktemp -d)"
import -window root "$tmp/a.png"
for _ in $(seq 1 60); do
  sleep 1
  import -window root "$tmp/b.png"
  diff=$(compare -metric AE "$tmp/a.png" "$tmp/b.png" /dev/null 2>&1 || true)
  [ "$diff" = "0" ] && break
  mv "$tmp/b.png" "$tmp/a.png"
done
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
rm -rf "$tmp"
echo "run.sh: screenshot saved to $shot (title: $(ctl title Pravel_main_class | tr -d '\r'))"
if ! ctl close Pravel_main_class 60000; then
  echo "run.sh: Pravel did not close within a minute" >&2
  kill "$pravel" 2>/dev/null || true
  exit 1
fi
wait "$pravel" || true
exit 0
