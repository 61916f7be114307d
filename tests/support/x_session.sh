# Shell functions for the tests that run a program on a display of its own
# under Xvfb with openbox, as an operator would use it (sourced). The caller
# sets `work` (a scratch folder) and `pids` (an array: every process started
# here is added, for the caller's trap to end).

# A display of size $1 with openbox on it; DISPLAY names it afterwards. A
# server that another starting at the same moment took the number of, or
# that went away, is started again (three tries).
start_display() {
  local out=$work/display-$1 try
  for try in 1 2 3; do
    rm -f "$out"
    # Xvfb picks a free display number and writes it to fd 3 once it is ready.
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$out" 2>"$work/xvfb.log" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
    [ -s "$out" ] || continue
    export DISPLAY=":$(head -n1 "$out")"
    xdpyinfo >/dev/null 2>&1 || continue
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    local wm=$!
    pids+=("$wm")
    for _ in $(seq 100); do
      # Ready once it lists what it supports (activating windows among it).
      xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_ACTIVE_WINDOW && return
      kill -0 "$wm" 2>/dev/null || break
      sleep 0.1
    done
  done
  cat "$work/xvfb.log" "$work/openbox.log"
  echo "FAIL: no display with openbox could be started"
  exit 1
}

# Sets `status` to the exit status of a process once it has ended (20 s at
# most), or to "running". Not in a subshell: only this shell can wait for it.
exit_status() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then status=running; return; fi
  status=0
  wait "$1" || status=$?
}
# The visible window named exactly $1 (60 s at most: on a busy machine the
# window manager may take long to start and to map a window). xdotool gives
# up early when a window goes away while it looks (another program's
# closing): it is asked again.
find_window() {
  local id end=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$end" ]; do
    id=$(timeout $((end - SECONDS)) xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null |
      head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
}
# A window's inside on the screen, "x y width height".
inside_of() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {print x, y, w, h}'
}
# A window with the window manager's frame around it, "x y width height".
frame_of() {
  local x y w h l r t b
  read -r x y w h <<<"$(inside_of "$1")"
  read -r l r t b <<<"$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')"
  echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}
# Whether two rectangles "x y w h" share a pixel.
overlap() {
  local ax ay aw ah bx by bw bh
  read -r ax ay aw ah <<<"$1"
  read -r bx by bw bh <<<"$2"
  [ $((ax < bx + bw && bx < ax + aw && ay < by + bh && by < ay + ah)) = 1 ]
}
