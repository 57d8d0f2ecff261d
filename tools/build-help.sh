#!/usr/bin/env bash
# Builds Pravel.chm from the help sources (help/, UTF-8) and the shortcut page that
# pravel-helpgen writes from the program's command table.
#   tools/build-help.sh HELP_SOURCE_DIR OUT.chm PRAVEL_HELPGEN
# The pages, contents and index are converted to Shift-JIS (code page 932) first: HTML Help
# reads a Japanese help file's contents and index in the help file's own code page.
set -euo pipefail
src="$(realpath "$1")"; out="$(realpath -m "$2")"; helpgen="$(realpath "$3")"
command -v chmcmd >/dev/null || { echo "build-help: chmcmd is missing (package fp-utils)" >&2; exit 1; }
stage="$out.stage"
rm -rf "$stage"
mkdir -p "$stage"
cp "$src"/*.html "$src"/*.css "$src"/*.hhc "$src"/*.hhk "$src"/*.hhp "$stage/"
"$helpgen" "$stage/shortcuts.html"
for f in "$stage"/*.html "$stage"/*.hhc "$stage"/*.hhk "$stage"/*.hhp; do
  # iconv fails on a character that Shift-JIS cannot hold: the help must not lose text.
  sed -e 's/charset="utf-8"/charset="shift_jis"/; s/charset=utf-8/charset=shift_jis/' "$f" |
    iconv -f UTF-8 -t CP932 >"$f.sjis"
  mv "$f.sjis" "$f"
done
# Every page the project names must exist, and every page must be named (chmcmd would
# silently leave a missing one out).
for f in "$stage"/*.html; do
  grep -qx "$(basename "$f")" <(tr -d '\r' <"$stage/pravel.hhp") || { echo "build-help: $(basename "$f") is not listed in pravel.hhp" >&2; exit 1; }
done
(cd "$stage" && chmcmd pravel.hhp >"$stage/chmcmd.log" 2>&1) || { cat "$stage/chmcmd.log" >&2; exit 1; }
[ -s "$stage/Pravel.chm" ] || { cat "$stage/chmcmd.log" >&2; echo "build-help: no Pravel.chm written" >&2; exit 1; }
mv "$stage/Pravel.chm" "$out"
