# Sourced: pravel_start_xvfb starts an Xvfb on a free display number when DISPLAY is unset,
# exports DISPLAY and stops that Xvfb (by its own id) when the calling shell exits.
pravel_start_xvfb() {
  [ -n "${DISPLAY:-}" ] && return 0
  local n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  PRAVEL_XVFB_PID=$!
  export DISPLAY=":$n"
  trap 'kill "$PRAVEL_XVFB_PID" 2>/dev/null' EXIT
  local i
  for i in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
}
