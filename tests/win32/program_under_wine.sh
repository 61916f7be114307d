#!/usr/bin/env bash
# The Windows program and its installer under Wine, on a display of its own
# under Xvfb with openbox, as an operator would use them:
#  - a purge on a generated database in a folder with non-ASCII characters
#    (C:\Datos\Año 2010\), driven from the keyboard: the window's layout and
#    the boxes' Spanish buttons read through the windows themselves
#    (wininspect.exe), screenshots of the window, of the reminder and of the
#    end message; then the file is checked and its rows compared with the
#    same purge done by the Linux program on a copy;
#  - started in a folder without clientes.mdb: the error box, then the end;
#  - the installer, installed and uninstalled silently.
# Screenshots and the inspections are kept in ARTEFACT_DIR.
#   program_under_wine.sh WINDOWS_BUILD LINUX_PROGRAM MKCLIENTES JETCHECK JETDUMP ARTEFACT_DIR
# WINDOWS_BUILD holds borrar-inactivos.exe, wininspect.exe and
# borrar-inactivos-setup.exe; the Wine prefix is kept in it (wineprefix, the
# Windows suites' own).
# Without Wine, Xvfb or the Windows build the test is skipped (77), or
# fails under REQUIRE_SHARED=1.
set -euo pipefail
windows=$1 linux_program=$2 mkclientes=$3 jetcheck=$4 jetdump=$5 artefacts=$6

skip() {
  echo "skipped: $*"
  [ "${REQUIRE_SHARED:-}" = 1 ] && exit 1
  exit 77
}
wine=$(command -v wine || true)
[ -n "$wine" ] || for w in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
  [ -x "$w" ] && wine=$w && break
done
[ -n "$wine" ] || skip "no Wine (scripts/setup.sh installs wine64)"
for tool in Xvfb openbox xdotool xprop xwininfo import; do
  command -v "$tool" >/dev/null || skip "$tool not found (scripts/setup.sh installs it)"
done
for f in borrar-inactivos.exe wininspect.exe; do
  [ -f "$windows/$f" ] || skip "no $windows/$f (scripts/build-windows.sh builds it)"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
pids=()
# Text in and out of Wine as UTF-8 (the Año and Vacío folders, the titles).
export LC_ALL=C.UTF-8
export WINEPREFIX=$(cd "$windows" && pwd)/wineprefix WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
      "${wine%/*}/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$artefacts"
rm -f "$artefacts"/*.png "$artefacts"/*.txt

# start_display, exit_status, find_window, inside_of, frame_of, overlap
. "$(dirname "$0")/../support/x_session.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== a new Wine prefix"
  timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
  # The configuration is written once the Wine server has ended.
  timeout 120 "${wine%/*}/wineserver" -w 2>/dev/null || true
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "FAIL: no Wine prefix"; exit 1; }
drive_c=$WINEPREFIX/drive_c
inspect() { "$wine" "$windows/wininspect.exe" "$@" 2>/dev/null | tr -d '\r'; }
# The screen, and the part of it a window's frame covers.
shoot() {  # shoot FILE [WINDOW]
  import -window root "$work/screen.png"
  if [ -n "${2:-}" ]; then
    local x y w h
    read -r x y w h <<<"$(frame_of "$2")"
    convert "$work/screen.png" -crop "${w}x$h+$x+$y" +repage "$1"
  else
    cp "$work/screen.png" "$1"
  fi
}
# Whether `text` holds the line $1, exactly.
has_line() { grep -qxF -- "$1" <<<"$text"; }

start_display 1024x768

# The purge from the keyboard, as an operator does it: the focus starts on
# "Borrar"; Tab twice reaches the date box; the date, Tab back onto
# "Borrar", Space; "s" answers Sí; Enter closes the end message; Tab and
# Space press "Salir". $1 names the case, $2 is the window, $3 the process.
# With $4 = inspect, the Windows boxes are read and photographed on the way.
drive_purge() {
  local name=$1 win=$2 app=$3 look=${4:-} box
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
  sleep 0.5
  xdotool key Tab Tab
  xdotool type "31/12/2010"
  xdotool key Tab space
  box=$(find_window "Atención")
  [ -n "$box" ] || { fail "$name: no reminder appeared"; return; }
  sleep 1
  if [ "$look" = inspect ]; then
    shoot "$artefacts/reminder.png"
    text=$(inspect box "Atención" | tee "$artefacts/reminder.txt")
    has_line 'button 6 "&Sí"' || fail "the reminder's first button is not Sí=6: $text"
    has_line 'button 7 "&No" default focus' || fail "the reminder's No=7 is not the default: $text"
    has_line 'icon' || fail "the reminder shows no icon"
    has_line 'text "Recuerde hacer una copia de seguridad antes de ejecutar esta opción, ¿Desea continuar con el borrado?"' ||
      fail "the reminder's text: $text"
    echo "reminder: window $(frame_of "$win"), reminder $(frame_of "$box")"
    overlap "$(frame_of "$box")" "$(frame_of "$win")" && fail "the reminder lies over the window"
  fi
  xdotool key s
  box=$(find_window "Borrar Inactivos")
  [ -n "$box" ] || { fail "$name: no end message appeared"; return; }
  sleep 1
  if [ "$look" = inspect ]; then
    shoot "$artefacts/end-message.png"
    text=$(inspect box "Borrar Inactivos" | tee "$artefacts/end-message.txt")
    has_line 'text "Borrado Terminado"' || fail "the end message's text: $text"
    has_line 'button 1 "Aceptar" default focus' || fail "the end message's button: $text"
    has_line 'icon' && fail "the end message shows an icon"
  fi
  xdotool key Return
  sleep 1
  if [ "$look" = inspect ]; then
    text=$(inspect window "Borrar Inactivos por Fechas" | tee "$artefacts/after-run.txt")
    grep -qE '^control Bar1 .* range 0 ([0-9]+) pos \1$' <<<"$text" ||
      fail "the bar is not full after the run: $(grep Bar1 <<<"$text")"
    has_line 'focus Command1_0' || fail "the focus is not back on Borrar"
    shoot "$artefacts/after-run.png" "$win"
  fi
  xdotool key Tab space
  exit_status "$app"
  [ "$status" = 0 ] || fail "$name: after Salir the status is $status, want 0"
}

# The .exe copied into the Windows folder $1 (a path under drive_c) and
# started there; `app` is its process.
start_exe() {
  rm -rf "$1"
  mkdir -p "$1"
  cp "$windows/borrar-inactivos.exe" "$1/"
  [ -n "${2:-}" ] && cp "$2" "$1/clientes.mdb"
  (cd "$1" && exec "$wine" borrar-inactivos.exe) >"$work/wine.log" 2>&1 &
  app=$!
  pids+=("$app")
}

"$mkclientes" "$work/base.mdb" --clients 300 --scatter --seed 11 >/dev/null ||
  { echo "FAIL: mkclientes could not make the database"; exit 1; }

echo "== a purge in C:\\Datos\\Año 2010"
folder="$drive_c/Datos/Año 2010"
start_exe "$folder" "$work/base.mdb"
win=$(find_window "Borrar Inactivos por Fechas")
if [ -z "$win" ]; then
  fail "the main window did not appear"; cat "$work/wine.log"
else
  sleep 1
  shoot "$artefacts/main-window.png" "$win"
  text=$(inspect window "Borrar Inactivos por Fechas" | tee "$artefacts/layout.txt")
  cat "$artefacts/layout.txt"
  # At 96 dots per inch, 15 twips a pixel: the places the Linux tests measure.
  for line in 'dpi 96 96' 'client 223 76' \
    'style caption=1 sysmenu=1 sizable=0 minimize=0 maximize=0' \
    'focus Command1_0' \
    'tab Command1_0 Command1_1 Text1 Command1_0' \
    'control Command1_0 Button "Borrar" 16 53 67 20 tabstop' \
    'control Command1_1 Button "Salir" 140 53 67 20 tabstop' \
    'control Text1 Edit "" 45 5 66 19 tabstop' \
    'control Label1 Static "Fecha:" 5 8 33 13' \
    'control Label2 Static "Estado:" 5 30 36 13' \
    'control Frame1 Static "" 45 26 171 20' \
    'control Bar1 msctls_progress32 "" 0 0 170 19 in Frame1 range 0 100 pos 0'; do
    has_line "$line" || fail "layout: no line '$line'"
  done
  grep -qE '^control Text2 Edit "[0-9]+" 92 90 36 19$' <<<"$text" || fail "layout: Text2"
  grep -qx 'control Data1 Static "" 12 91 76 20' <<<"$text" || fail "layout: Data1"
  grep -qx 'control Data4 Static "" 14 149 76 23' <<<"$text" || fail "layout: Data4"
  # Centred on the screen's work area, the frame within two pixels.
  read -r _ fx fy fw fh <<<"$(grep '^frame ' <<<"$text")"
  read -r _ wx wy ww wh <<<"$(grep '^workarea ' <<<"$text")"
  dx=$((2 * fx + fw - 2 * wx - ww)) dy=$((2 * fy + fh - 2 * wy - wh))
  [ "${dx#-}" -le 4 ] && [ "${dy#-}" -le 4 ] || fail "the window is not centred: $fx $fy ${fw}x$fh"
  # The window bears an icon, the program file's: a spanner in 32x32 and
  # 16x16, sixteen colours. (Wine hands the window's icons to the window
  # manager, not to another process.)
  shown=$(xprop -id "$win" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | sort | tr '\n' ' ')
  [ "$shown" = "Icon (16 x 16) Icon (32 x 32) " ] || fail "the window's icons: $shown"
  icons=$(inspect icons 'C:\Datos\Año 2010\borrar-inactivos.exe')
  echo "$icons" | tee -a "$artefacts/layout.txt"
  [ "$icons" = $'image 32x32 colours 16 bits 4\nimage 16x16 colours 16 bits 4' ] ||
    fail "the program file's icon: $icons"
  read -r _ _ width height <<<"$(inside_of "$win")"
  [ "${width}x$height" = 223x76 ] || fail "the X window's inside is ${width}x$height, want 223x76"
  drive_purge wine "$win" "$app" inspect
fi

echo "== the same purge by the Linux program"
if [ -x "$linux_program" ]; then
  mkdir -p "$work/linux"
  cp "$work/base.mdb" "$work/linux/clientes.mdb"
  cp "$linux_program" "$work/linux/borrar-inactivos"
  (cd "$work/linux" && exec ./borrar-inactivos) >"$work/linux.log" 2>&1 &
  app=$!
  pids+=("$app")
  win=$(find_window "Borrar Inactivos por Fechas")
  if [ -z "$win" ]; then
    fail "the Linux program's window did not appear"; cat "$work/linux.log"
  else
    drive_purge linux "$win" "$app"
  fi
  "$jetcheck" "$folder/clientes.mdb" || fail "jetcheck finds the file the Windows program purged damaged"
  for table in clientes cliprod horascli diascli; do
    "$jetdump" --json "$work/base.mdb" "$table" >"$work/before-$table.json"
    "$jetdump" --json "$folder/clientes.mdb" "$table" >"$work/wine-$table.json"
    "$jetdump" --json "$work/linux/clientes.mdb" "$table" >"$work/linux-$table.json"
    echo "$table: $(wc -l <"$work/before-$table.json") rows before, $(wc -l <"$work/wine-$table.json") after on Windows, $(wc -l <"$work/linux-$table.json") after on Linux"
    cmp -s "$work/wine-$table.json" "$work/linux-$table.json" ||
      fail "$table: the rows differ between the Windows and the Linux purge"
  done
  cmp -s "$work/before-clientes.json" "$work/wine-clientes.json" && fail "nothing was purged"
  if cmp -s "$folder/clientes.mdb" "$work/linux/clientes.mdb"; then
    echo "the two purged files are the same bytes"
  else
    echo "the two purged files differ in bytes (rows identical)"
  fi
else
  fail "no Linux program at $linux_program to compare with"
fi

echo "== without clientes.mdb"
start_exe "$drive_c/Vacío"
box=$(find_window "Borrar Inactivos")
if [ -z "$box" ]; then
  fail "no error box appeared"; cat "$work/wine.log"
else
  sleep 1
  shoot "$artefacts/error-box.png" "$box"
  text=$(inspect box "Borrar Inactivos" | tee "$artefacts/error-box.txt")
  cat "$artefacts/error-box.txt"
  grep -q '^text "Error [0-9]* en tiempo de ejecución: .*Vacío' <<<"$text" ||
    fail "the error box does not name the error and the folder: $text"
  has_line 'button 1 "Aceptar" default focus' || fail "the error box's button: $text"
  if xdotool search --name "^Borrar Inactivos por Fechas\$" >/dev/null 2>&1; then
    fail "the main window was created although start-up failed"
  fi
  xdotool windowactivate --sync "$box" 2>/dev/null || xdotool windowfocus --sync "$box"
  xdotool key Return
  exit_status "$app"
  case "$status" in
    0 | running) fail "after the error box the program's status is $status" ;;
    *) echo "ended with status $status" ;;
  esac
fi

echo "== the installer"
setup=$windows/borrar-inactivos-setup.exe
if [ ! -f "$setup" ]; then
  fail "no installer at $setup (makensis builds it)"
else
  installed="$drive_c/Program Files/Borrar Inactivos"
  menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Borrar Inactivos"
  key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\BorrarInactivos'
  files=(borrar-inactivos.exe jetdump.exe jetcheck.exe jetsql.exe mkclientes.exe desinstalar.exe)
  timeout 300 "$wine" "$setup" /S || fail "the installer's status is $?"
  "${wine%/*}/wineserver" -w 2>/dev/null || true
  for f in "${files[@]}"; do [ -f "$installed/$f" ] || fail "not installed: $f"; done
  [ -f "$menu/Borrar Inactivos por Fechas.lnk" ] || fail "no Start-menu entry"
  "$wine" reg query "$key" /v UninstallString 2>/dev/null | tr -d '\r' | grep -q desinstalar.exe ||
    fail "not registered in Add/Remove programs"
  echo "installed: $(cd "$installed" && ls | tr '\n' ' ')"
  # The uninstaller runs a copy of itself and returns at once: the files go
  # once every Wine process has ended.
  timeout 300 "$wine" "$installed/desinstalar.exe" /S || true
  timeout 300 "${wine%/*}/wineserver" -w 2>/dev/null || sleep 10
  for f in "${files[@]}"; do [ ! -e "$installed/$f" ] || fail "left after uninstalling: $f"; done
  [ ! -e "$installed" ] || fail "the folder is left after uninstalling"
  [ ! -e "$menu" ] || fail "the Start-menu entry is left after uninstalling"
  "$wine" reg query "$key" >/dev/null 2>&1 && fail "still registered after uninstalling"
  echo "uninstalled"
fi

ls "$artefacts"
[ "$failures" = 0 ] || exit 1
echo "all passed"
