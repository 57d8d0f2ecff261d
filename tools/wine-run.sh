#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix (build/wineprefix),
# quietly, without the Mono/Gecko prompts. Starts a private Xvfb when there is no display.
# Usage: tools/wine-run.sh PROGRAM.exe [ARGS...]
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win32
if [ -z "${DISPLAY:-}" ]; then
  # shellcheck source=tools/xvfb.sh
  . "$here/tools/xvfb.sh"
  pravel_start_xvfb
  wine "$@"
  exit $?
fi
exec wine "$@"
