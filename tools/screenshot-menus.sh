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

for name in frame menu-file menu-view menu-tools menu-help menu-columns menu-context; do
  for _ in $(seq 1 600); do
    [ -e "$out/$name.ready" ] && break
    kill -0 "$test_pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ ! -e "$out/$name.ready" ]; then
    echo "screenshot-menus: no $name step (see $out/run.log)" >&2
    break
  fi
  sleep 0.3
  import -window root "$out/$name.png"
  touch "$out/$name.done"
  echo "screenshot-menus: $out/$name.png"
done
wait "$test_pid" || true
rm -f "$out"/*.ready "$out"/*.done
