#!/usr/bin/env bash
# Starts the real program on a display of its own under Xvfb: beside a copy of
# a client database (the window comes up and is photographed, "Salir" ends it
# with status 0), then in a folder without one (the error box comes up and,
# once dismissed, the program ends with a non-zero status).
#   program_under_xvfb.sh PROGRAM SCREEN_GRAB ARTEFACT_DIR
# Without the shared fixtures the test is skipped (77), or fails under REQUIRE_SHARED=1.
set -euo pipefail
program=$1 grab=$2 artefacts=$3
shared=${SHARED_DIR:-$(dirname "$0")/../../../shared}
fixture=$shared/fixtures/clientes/clientes-v2000-small.mdb
if [ ! -f "$fixture" ]; then
  echo "the client fixture is absent ($fixture)"
  [ "${REQUIRE_SHARED:-}" = 1 ] && exit 1
  exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
mkdir -p "$artefacts"
rm -f "$artefacts"/*.png

# Xvfb picks a free display number and writes it to fd 3 once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# The exit status of a process once it has ended (20 s at most), or "running".
exit_status() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$1" 2>/dev/null; then echo running; return; fi
  local status=0
  wait "$1" || status=$?
  echo "$status"
}
# The visible window named exactly $1 (20 s at most).
find_window() {
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true
}
start_in() {  # a copy of the program in folder $1
  mkdir -p "$work/$1"
  cp "$program" "$work/$1/borrar-inactivos"
  "$work/$1/borrar-inactivos" 2>"$work/$1.log" &
  app=$!
  pids+=("$app")
}

echo "== beside clientes.mdb"
mkdir -p "$work/with"
cp "$fixture" "$work/with/clientes.mdb"
chmod u+w "$work/with/clientes.mdb"
start_in with
win=$(find_window "Borrar Inactivos por Fechas")
if [ -z "$win" ]; then
  fail "the main window did not appear"; cat "$work/with.log"
else
  eval "$(xdotool getwindowgeometry --shell "$win")"
  [ "${WIDTH}x$HEIGHT" = 223x76 ] || fail "window size ${WIDTH}x$HEIGHT"
  sleep 1  # the first paint
  "$grab" "$artefacts/main-window.png" "$win" || fail "no screenshot"
  "$grab" "$artefacts/screen-with-database.png" || fail "no screenshot"
  xdotool mousemove --window "$win" 173 63 click 1  # "Salir": 140,53 67x20
  status=$(exit_status "$app")
  [ "$status" = 0 ] || fail "after Salir the status is $status, want 0"
fi

echo "== without clientes.mdb"
start_in without
box=$(find_window "Borrar Inactivos")
if [ -z "$box" ]; then
  fail "no error box appeared"; cat "$work/without.log"
else
  sleep 1
  "$grab" "$artefacts/error-box.png" "$box" || fail "no screenshot"
  if xdotool search --name "^Borrar Inactivos por Fechas\$" >/dev/null 2>&1; then
    fail "the main window was created although start-up failed"
  fi
  # No window manager runs: focus the box directly, then take its default button.
  xdotool windowfocus --sync "$box"
  xdotool key Return
  status=$(exit_status "$app")
  case "$status" in
    0 | running) fail "after the error box the program's status is $status" ;;
    *) echo "ended with status $status" ;;
  esac
fi
ls "$artefacts"
[ "$failures" = 0 ] || exit 1
