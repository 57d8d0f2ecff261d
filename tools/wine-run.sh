#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix (build/wineprefix),
# quietly, without the Mono/Gecko prompts. 64-bit programs go to Wine's 64-bit loader
# directly (the plain "wine" entry needs 32-bit Linux processes, which some kernels refuse).
# Starts a private Xvfb when there is no display.
# Usage: tools/wine-run.sh PROGRAM.exe [ARGS...]
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

loader=wine
exe="${1:-}"
if [ -f "$exe" ]; then
  # PE machine field: 0x8664 is x86-64.
  off=$(od -An -t u4 -j 60 -N 4 "$exe" 2>/dev/null | tr -d ' ')
  machine=$(od -An -t x2 -j $((off + 4)) -N 2 "$exe" 2>/dev/null | tr -d ' ')
  [ "$machine" = "8664" ] && [ -x /usr/lib/wine/wine64 ] && loader=/usr/lib/wine/wine64
fi

if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . "$here/tools/xvfb.sh"
  pravel_start_xvfb
  "$loader" "$@"
  exit $?
fi
exec "$loader" "$@"
