#!/usr/bin/env bash
# Starts the real program on displays of its own under Xvfb, with openbox as
# the window manager, as an operator would use it:
#  - beside a copy of a client database: the window comes up and is
#    photographed, "Salir" ends it with status 0;
#  - in a folder without one: the error box comes up and, once dismissed, the
#    program ends with a non-zero status;
#  - with the window near the bottom edge of the screen, a date with a time
#    typed: the backup reminder opens clear of the date box, which shows the
#    day; "n" answers No and ends the program;
#  - a purge run on a generated database, answered with "s": a screenshot
#    part way through shows the window as before the reminder, apart from
#    the progress frame; once on a normal screen, once on a screen so small
#    that the reminder has to lie over the window (all but the date row).
# Screenshots are kept in ARTEFACT_DIR.
#   program_under_xvfb.sh PROGRAM SCREEN_GRAB SCREEN_COMPARE MKCLIENTES ARTEFACT_DIR
# Without the shared fixtures the test is skipped (77), or fails under REQUIRE_SHARED=1.
set -euo pipefail
program=$1 grab=$2 compare=$3 mkclientes=$4 artefacts=$5
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
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# start_display, exit_status, find_window, inside_of, frame_of, overlap
. "$(dirname "$0")/../support/x_session.sh"

start_in() {  # a copy of the program in folder $1
  mkdir -p "$work/$1"
  cp "$program" "$work/$1/borrar-inactivos"
  (cd "$work/$1" && exec ./borrar-inactivos) 2>"$work/$1.log" &
  app=$!
  pids+=("$app")
}
main_window() { find_window "Borrar Inactivos por Fechas"; }

start_display 1024x768

echo "== beside clientes.mdb"
mkdir -p "$work/with"
cp "$fixture" "$work/with/clientes.mdb"
chmod u+w "$work/with/clientes.mdb"
start_in with
win=$(main_window)
if [ -z "$win" ]; then
  fail "the main window did not appear"; cat "$work/with.log"
else
  read -r _ _ width height <<<"$(inside_of "$win")"
  [ "${width}x$height" = 223x76 ] || fail "window size ${width}x$height"
  sleep 1  # the first paint
  "$grab" "$artefacts/main-window.png" "$win" || fail "no screenshot"
  "$grab" "$artefacts/screen-with-database.png" || fail "no screenshot"
  xdotool mousemove --window "$win" 173 63 click 1  # "Salir": 140,53 67x20
  exit_status "$app"
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
  xdotool windowactivate --sync "$box" || xdotool windowfocus --sync "$box"
  xdotool key Return
  exit_status "$app"
  case "$status" in
    0 | running) fail "after the error box the program's status is $status" ;;
    *) echo "ended with status $status" ;;
  esac
fi

# A database whose every inactive client goes with a cut-off far ahead, big
# enough for a run to last a moment (its rows scattered, as a database that
# grew over years holds them).
"$mkclientes" "$work/big.mdb" --clients 60000 --scatter --seed 7 >/dev/null 2>&1 ||
  { fail "mkclientes could not make the database"; exit 1; }
date_box=(45 5 66 19)  # Text1 inside the window
# Frame1, which the run repaints, and "Borrar", which had the focus before
# and shows none while the run holds the program.
frame1=(45 26 171 20)
borrar=(16 53 67 20)

# The date box on the screen, "x y w h".
date_box_of() {
  local x y
  read -r x y _ _ <<<"$(inside_of "$1")"
  echo $((x + date_box[0])) $((y + date_box[1])) "${date_box[2]}" "${date_box[3]}"
}

echo "== the reminder with the window near the bottom edge"
mkdir -p "$work/bottom"
cp "$work/big.mdb" "$work/bottom/clientes.mdb"
start_in bottom
win=$(main_window)
if [ -z "$win" ]; then
  fail "the main window did not appear"; cat "$work/bottom.log"
else
  xdotool windowmove --sync "$win" 400 $((768 - 100)) || true
  sleep 0.5
  xdotool mousemove --window "$win" 78 14 click 1 type "31/12/2010 10:30"
  xdotool mousemove --window "$win" 49 63 click 1  # "Borrar": 16,53 67x20
  box=$(find_window "Atención")
  if [ -z "$box" ]; then
    fail "no reminder appeared"
  else
    sleep 1
    "$grab" "$artefacts/reminder-near-bottom.png" || fail "no screenshot"
    echo "window $(frame_of "$win"), date box $(date_box_of "$win"), reminder $(frame_of "$box")"
    if overlap "$(frame_of "$box")" "$(frame_of "$win")"; then
      fail "the reminder lies over the window"
    fi
    xdotool key n  # No: the program ends
    exit_status "$app"
    [ "$status" = 0 ] || fail "after n the status is $status, want 0"
  fi
fi

# A purge run answered with "s": the window before the reminder and part way
# through the run agree outside the progress frame. $1 names the case; with
# $2 = top, the window is moved to the screen's top-left corner first.
run_and_compare() {
  local name=$1 where=${2:-}
  mkdir -p "$work/$name"
  cp "$work/big.mdb" "$work/$name/clientes.mdb"
  start_in "$name"
  win=$(main_window)
  [ -n "$win" ] || { fail "$name: the main window did not appear"; cat "$work/$name.log"; return; }
  if [ "$where" = top ]; then xdotool windowmove --sync "$win" 0 0 || true; fi
  sleep 0.5
  xdotool mousemove --window "$win" 78 14 click 1 type "31/12/2040"
  xdotool key Tab  # onto "Borrar"
  sleep 0.5
  "$grab" "$artefacts/$name-before.png" "$win" || fail "$name: no screenshot"
  xdotool key space
  box=$(find_window "Atención")
  [ -n "$box" ] || { fail "$name: no reminder appeared"; return; }
  sleep 0.5
  "$grab" "$artefacts/$name-reminder.png" || fail "$name: no screenshot"
  local reminder
  reminder=$(frame_of "$box")
  echo "$name: window $(frame_of "$win"), date box $(date_box_of "$win"), reminder $reminder"
  overlap "$reminder" "$(date_box_of "$win")" && fail "$name: the reminder covers the date box"
  [ "$where" = top ] && ! overlap "$reminder" "$(frame_of "$win")" &&
    fail "$name: the reminder was to lie over the window on this screen"
  xdotool key s
  # Once the reminder is gone the program has a moment to paint the window
  # again; then screenshots until one shows the frame changed (the run under
  # way). One taken while the closing box is up does not count.
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^Atención\$" >/dev/null 2>&1 || break
    sleep 0.05
  done
  sleep 0.3
  local before=$artefacts/$name-before.png shot=$artefacts/$name-during-run.png during=
  for _ in $(seq 100); do
    "$grab" "$shot" "$win" 2>/dev/null || break
    xdotool search --onlyvisible --name "^Borrar Inactivos\$" >/dev/null 2>&1 && break
    if ! "$compare" --inside "$before" "$shot" "${frame1[@]}" >/dev/null; then
      during=1
      break
    fi
    sleep 0.05
  done
  if [ -z "$during" ]; then
    rm -f "$shot"
    fail "$name: no screenshot while the run was under way"
  elif ! "$compare" "$before" "$shot" "${frame1[@]}" "${borrar[@]}"; then
    fail "$name: part way through the run the window is not as before the reminder"
  fi
  find_window "Borrar Inactivos" >/dev/null
}

echo "== a run"
run_and_compare run
echo "== a run on a screen too small to keep the reminder off the window"
start_display 360x240
run_and_compare small-screen top

ls "$artefacts"
[ "$failures" = 0 ] || exit 1
