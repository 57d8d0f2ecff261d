#!/usr/bin/env bash
# The compiled help: every page of the sources, the generated shortcut page, the contents and
# the index are inside; every contents and index entry leads to a page that is there; every
# page can be reached from the contents; and the shortcut page is the one the program's
# command table gives now (a stale help file would disagree with the program).
#   tests/dist/check_help.sh Pravel.chm HELP_SOURCE_DIR PRAVEL_HELPGEN
set -uo pipefail
chm="$1"; src="$2"; helpgen="$3"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ -s "$chm" ] || { echo "FAIL: $chm is missing"; exit 1; }
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT

chmls -n list "$chm" | tr -d '\r' | sed -n 's|^ */||p' | sort -u >"$tmp/names"
expected=(shortcuts.html toc.hhc index.hhk style.css)
for f in "$src"/*.html; do expected+=("$(basename "$f")"); done
for f in "${expected[@]}"; do grep -qxF "$f" "$tmp/names" || bad "$f is not in the help file"; done

for part in toc.hhc index.hhk; do
  chmls extract "$chm" "/$part" "$tmp/$part" >/dev/null 2>&1 || { bad "cannot extract $part"; continue; }
  iconv -f CP932 -t UTF-8 "$tmp/$part" >"$tmp/$part.utf8" || bad "$part is not Shift-JIS"
  grep -o 'name="Local" value="[^"]*"' "$tmp/$part.utf8" | sed 's/.*value="//; s/"$//' | sort -u >"$tmp/$part.links"
  [ -s "$tmp/$part.links" ] || bad "$part has no entries"
  while read -r link; do grep -qxF "$link" "$tmp/names" || bad "$part names $link, which is not in the help file"; done <"$tmp/$part.links"
done
for f in "${expected[@]}"; do
  case "$f" in *.html) grep -qxF "$f" "$tmp/toc.hhc.links" || bad "$f cannot be reached from the contents" ;; esac
done

chmls extract "$chm" /shortcuts.html "$tmp/shortcuts.html" >/dev/null 2>&1 || bad "cannot extract shortcuts.html"
"$helpgen" "$tmp/now.html" || bad "pravel-helpgen failed"
sed 's/charset="utf-8"/charset="shift_jis"/' "$tmp/now.html" | iconv -f UTF-8 -t CP932 >"$tmp/now.sjis"
cmp -s "$tmp/shortcuts.html" "$tmp/now.sjis" || bad "the shortcut page differs from what the command table gives now"
# The generator lists each of the 56 shortcut commands once, with or without a key.
rows=$(grep -c '^<tr><td>' "$tmp/now.html"); items=$(grep -c '^<li>' "$tmp/now.html")
[ $((rows + items)) -eq 56 ] || bad "the shortcut page lists $((rows + items)) commands, not 56"
grep -qF '<td>ファイル - すべて選択</td><td class="key">Ctrl+A</td>' "$tmp/now.html" || bad "Ctrl+A for select all is missing"

[ "$fail" = 0 ] && echo "help file: ${#expected[@]} files, $(wc -l <"$tmp/toc.hhc.links") contents and $(wc -l <"$tmp/index.hhk.links") index targets checked"
exit "$fail"
