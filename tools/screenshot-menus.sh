#!/usr/bin/env bash
# Screenshots of the main frame with both tool bars and with each menu-bar menu open (plus the
# column and thumbnail context menus), taken on a private Xvfb. The frame is built by the test
# program win_test_frame_screens, which pauses at every step until the picture is taken.
# Usage: tools/screenshot-menus.sh [WIN64_BUILD_DIR] [OUT_DIR]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/frame-win64}"
out="${2:-$here/build/screens}"
exe="$build/tests/win_test_frame_screens.exe"
[ -f "$exe" ] || { echo "screenshot-menus: build $exe first (target win_test_frame_screens)" >&2; exit 1; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out"/*.ready "$out"/*.done

unset DISPLAY
# shellcheck source=tools/xvfb.sh
. "$here/tools/xvfb.sh"
pravel_start_xvfb

winout="Z:${out//\//\\}"
PRAVEL_SHOT_DIR="$winout" "$here/tools/wine-run.sh" "$exe" >"$out/run.log" 2>&1 &
test_pid=$!
pravel_shoot_steps screenshot-menus "$out" "$test_pid" "$out/run.log" \
  frame menu-file menu-view menu-tools menu-help menu-columns menu-context key-dialog

# The real program as well, when it is built. It runs in a private copy of the prefix: the shared
# prefix's wineserver may already hold another Pravel window, which would make this one a second
# instance that hands over and ends.
app="$build/Pravel.exe"
if [ -f "$app" ] && command -v xwininfo >/dev/null; then
  prefix="$here/build/screens-prefix"
  [ -d "$prefix" ] || cp -a "$here/build/wineprefix" "$prefix"
  # Default settings every time.
  rm -f "$(dirname "$app")/Pravel.ini"
  find "$prefix/drive_c/users" -name Pravel.ini -path '*/Pravel/*' -delete 2>/dev/null || true
  WINEPREFIX="$prefix" "$here/tools/wine-run.sh" "$app" >"$out/app.log" 2>&1 &
  app_pid=$!
  for _ in $(seq 1 150); do
    xwininfo -root -tree 2>/dev/null | grep -q '"-1- \|"Pravel"' && break
    sleep 0.2
  done
  sleep 2
  import -window root "$out/app.png"
  echo "screenshot-menus: $out/app.png"
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
fi
