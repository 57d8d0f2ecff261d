#!/usr/bin/env bash
# End-to-end check of pravel-ctl under Wine: a fixture window with a Japanese title is found
# once shown, its title and child read back, and it closes through WM_CLOSE with its process.
# Usage: tools/ctl/test_ctl.sh PATH/pravel-ctl.exe
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
ctl="$1"
run() { "$here/tools/wine-run.sh" "$ctl" "$@"; }
if [ -z "${DISPLAY:-}" ]; then . "$here/tools/xvfb.sh"; pravel_start_xvfb; fi
class="Pravel_ctltest_$$_class"
title="確認 window テスト"
failures=0
passes=0
check() { if [ "$2" = "$3" ]; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAIL: $1: got [$2] want [$3]"; failures=$((failures + 1)); fi; }

run wait "$class" 0; check "wait for an absent window times out" "$?" 1
run close "$class" 500; check "close of an absent window fails" "$?" 1
run title "$class" >/dev/null; check "title of an absent window fails" "$?" 1

run window "$class" "$title" &
fixture=$!
run wait "$class" 60000; check "wait finds the shown window" "$?" 0
check "title is read back as UTF-8" "$(run title "$class" | tr -d '\r')" "$title"
check "the child static is listed with its id and text" \
  "$(run children "$class" | tr -d '\r' | awk -F'\t' '{print $1 "|" $2 "|" $5}')" "Static|1001|$title"
check "list shows the window" "$(run list | tr -d '\r' | awk -F'\t' -v c="$class" '$1 == c {print $3}')" "$title"
check "send WM_GETTEXTLENGTH answers the title length" "$(run send "$class" 0x000E 0 0 | tr -d '\r')" \
  "$(printf '%s' "$title" | iconv -f UTF-8 -t UTF-16LE | wc -c | awk '{print $1 / 2}')"
run close "$class" 20000; check "close ends the window and its process" "$?" 0
wait "$fixture"; check "the fixture ended normally" "$?" 0
run wait "$class" 0; check "the window is gone" "$?" 1

echo "$passes passed, $failures failed"
[ "$failures" = 0 ]
