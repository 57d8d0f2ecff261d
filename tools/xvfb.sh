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

# For the screenshot scripts: the test program at PID announces each step NAME with
# OUT/NAME.ready and waits for OUT/NAME.done; this takes OUT/NAME.png of the screen at every
# step, stops at the first step that does not come (TAG names the caller, LOG is the program's
# output), then waits for the program and removes the hand-shake files.
pravel_shoot_steps() {
  local tag=$1 out=$2 pid=$3 log=$4 name
  shift 4
  for name in "$@"; do
    for _ in $(seq 1 600); do
      [ -e "$out/$name.ready" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.2
    done
    if [ ! -e "$out/$name.ready" ]; then
      echo "$tag: no $name step (see $log)" >&2
      break
    fi
    sleep 0.3
    import -window root "$out/$name.png"
    touch "$out/$name.done"
    echo "$tag: $out/$name.png"
  done
  wait "$pid" || true
  rm -f "$out"/*.ready "$out"/*.done
}
