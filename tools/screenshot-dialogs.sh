#!/usr/bin/env bash
# Screenshots of the options dialog's three pages and of the cache maintenance dialog, taken on
# a private Xvfb. The dialogs are built by the test program win_test_options_dialog (test
# "Pictures"), which pauses at every step until the picture is taken.
# Usage: tools/screenshot-dialogs.sh [WIN64_BUILD_DIR] [OUT_DIR] [PLUGIN_FOLDER]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build/win64}"
out="${2:-$here/build/screens}"
plugins="${3:-}"
exe="$build/tests/win_test_options_dialog.exe"
[ -f "$exe" ] || { echo "screenshot-dialogs: build $exe first (target win_test_options_dialog)" >&2; exit 1; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out"/*.ready "$out"/*.done

unset DISPLAY
# shellcheck source=tools/xvfb.sh
. "$here/tools/xvfb.sh"
pravel_start_xvfb

winout="Z:${out//\//\\}"
winplugins=""
[ -n "$plugins" ] && winplugins="Z:$(cd "$plugins" && pwd | sed 's|/|\\|g')"
PRAVEL_SHOT_DIR="$winout" PRAVEL_SHOT_PLUGINS="$winplugins" \
  "$here/tools/wine-run.sh" "$exe" --gtest_filter='*Pictures*' >"$out/dialogs.log" 2>&1 &
test_pid=$!
pravel_shoot_steps screenshot-dialogs "$out" "$test_pid" "$out/dialogs.log" \
  options-settings options-tools options-plugins cache-dialog
