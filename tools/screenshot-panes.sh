#!/usr/bin/env bash
# Screenshots of the thumbnail panes on a private Xvfb, with the program of a given Windows
# build and the settings file beside it.
#   tools/screenshot-panes.sh BUILD_DIR OUT.png FOLDER [SETTLE]
#     SETTLE: "settle" (default) waits until two screens a second apart are the same;
#             a number of seconds takes the picture after that long (a load in progress).
#   With PRAVEL_SECOND_FOLDER set, both panes are shown: the folder opens in pane 1, the
#   second one in pane 2 (handed over by a second instance), and PRAVEL_CLICKS (x,y pairs of
#   screen points, "ctrl+" in front for a Ctrl-click) are clicked afterwards.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath "$1")"; shot="$(realpath -m "$2")"; folder="$(realpath -m "$3")"; settle="${4:-settle}"
unset DISPLAY
# shellcheck source=tools/xvfb.sh
. "$here/tools/xvfb.sh"
pravel_start_xvfb
winpath() { echo "Z:$1" | tr '/' '\\'; }
ctl() { "$here/tools/wine-run.sh" "$build/pravel-ctl.exe" "$@"; }
"$here/tools/wine-run.sh" "$build/Pravel.exe" "$(winpath "$folder")" &
pravel=$!
ctl wait Pravel_main_class 120000 >/dev/null || { echo "no main window" >&2; kill "$pravel"; exit 1; }
if [ -n "${PRAVEL_SECOND_FOLDER:-}" ]; then
  sleep 3
  ctl post Pravel_main_class 0x111 5720 0 >/dev/null   # switch to pane 2 (both panes shown)
  sleep 1
  "$here/tools/wine-run.sh" "$build/Pravel.exe" "$(winpath "$(realpath "$PRAVEL_SECOND_FOLDER")")" || true
  sleep 4
  for click in ${PRAVEL_CLICKS:-}; do
    mod=""; case "$click" in ctrl+*) mod=ctrl; click="${click#ctrl+}";; esac
    xdotool mousemove "${click%,*}" "${click#*,}"; sleep 0.3
    if [ -n "$mod" ]; then xdotool keydown ctrl click 1 keyup ctrl; else xdotool click 1; fi
    sleep 0.5
  done
fi
if [ "$settle" = settle ]; then
  tmp="$(mktemp -d)"
  import -window root "$tmp/a.png"
  for _ in $(seq 1 60); do
    sleep 1; import -window root "$tmp/b.png"
    diff=$(compare -metric AE "$tmp/a.png" "$tmp/b.png" /dev/null 2>&1 || true)
    [ "$diff" = "0" ] && break
    mv "$tmp/b.png" "$tmp/a.png"
  done
  rm -rf "$tmp"
else
  sleep "$settle"
fi
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
ctl close Pravel_main_class 60000 >/dev/null || kill "$pravel" 2>/dev/null || true
wait "$pravel" || true
