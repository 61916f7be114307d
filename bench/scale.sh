#!/usr/bin/env bash
# How the purge grows with the database: for each size (10 000, 100 000 and
# 1 000 000 clients), a scattered client database from mkclientes with up
# to 10 rows per client in each dependent table, then on fresh copies of it:
#   the purge      bench/purge_scale: runPurge with a scripted runtime, no
#                  display; its time, peak memory and bytes written;
#   mdb-export     of the four tables to /dev/null (a read-only reference);
#   cat            the file to /dev/null (the disk's reading speed);
#   changed pages  bench/page_diff: the bytes of the pages the purge changed,
#                  to set against the bytes it wrote.
# The purge, mdb-export and cat run three times each, taking turns, and the
# medians are kept. Prints a Markdown table and draws time and memory
# against size into WORK/scale.png (gnuplot).
#
#   bench/scale.sh [--sizes N,N,...] [--date DD/MM/YYYY] [--window] [WORK]
#
# WORK is the folder for the databases (a temporary folder by default,
# removed at the end; never inside the repository): the 1 000 000-client
# database is about 1.1 GB and its copy as much again. The cut-off date
# selects the clients of status "H" dated on or before it: 31/12/2019 by
# default, about a third of mkclientes' clients (the table gives the
# share). --window also runs the real program at 100 000 clients under
# Xvfb, driven with xdotool, and times it from "Sí" to "Borrado Terminado"
# (the closing box's window reaching the X server, as xev reports it),
# three times, each beside a scripted purge, to compare the medians.
# BUILD_DIR chooses the build folder (default build-bench, Release).
set -euo pipefail
export LC_NUMERIC=C  # seconds with a decimal point
repo=$(cd "$(dirname "$0")/.." && pwd)

sizes=10000,100000,1000000
cutoff=31/12/2019
window=
work=
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes=$2; shift 2 ;;
    --date) cutoff=$2; shift 2 ;;
    --window) window=1; shift ;;
    -h | --help) sed -n '2,26p' "$0"; exit 0 ;;
    -*) echo "scale.sh: unknown option $1" >&2; exit 2 ;;
    *) work=$1; shift ;;
  esac
done

build_dir=${BUILD_DIR:-$repo/build-bench}
targets=(mkclientes purge_scale page_diff)
[ -n "$window" ] && targets+=(borrar-inactivos)
cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build_dir" -j"${BUILD_JOBS:-2}" --target "${targets[@]}" >/dev/null
mkclientes=$build_dir/tools/mkclientes
purge_scale=$build_dir/bench/purge_scale
page_diff=$build_dir/bench/page_diff

if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
else
  mkdir -p "$work"
fi
work=$(cd "$work" && pwd)
case "$work/" in
  "$repo"/*) echo "scale.sh: the work folder must lie outside the repository" >&2; exit 2 ;;
esac

# Seconds a command takes, to 0.01 s.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@"
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }  # of three
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

export_tables() {
  local t
  for t in clientes cliprod horascli diascli; do mdb-export "$1" "$t" >/dev/null; done
}

data=$work/scale.dat
: >"$data"
rows=()
declare -A purge_time
for n in ${sizes//,/ }; do
  base=$work/clientes-$n.mdb
  echo "== $n clients" >&2
  gen=$(seconds "$mkclientes" "$base" --clients "$n" --max-deps 10 --scatter --force --quiet)
  size=$(stat -c %s "$base")
  # Each measure three times, purge and mdb-export taking turns, and the
  # median kept: this machine's speed wanders by a tenth or more from one
  # run to the next. The purge's other figures are its median run's.
  copy=$work/purge-$n.mdb
  outs=() exports=() cats=()
  for _ in 1 2 3; do
    cp "$base" "$copy"
    # On the disk before the purge starts, as an operator's file is: else
    # the purge's first sync waits for the whole copy to be written out.
    sync "$base" "$copy"
    cat "$copy" >/dev/null  # both start from the page cache
    outs+=("$("$purge_scale" "$copy" "$cutoff")")
    echo "  purge: ${outs[-1]}" >&2
    exports+=("$(seconds export_tables "$base")")
    cats+=("$(seconds sh -c 'cat "$1" >/dev/null' sh "$base")")
  done
  out=$(printf '%s\n' "${outs[@]}" | sort -t= -k2 -n | sed -n 2p)
  export_s=$(median "${exports[@]}")
  cat_s=$(median "${cats[@]}")
  diff=$("$page_diff" "$base" "$copy")
  rm -f "$copy" "$work"/purge-"$n".ldb
  secs=$(field seconds "$out")
  selected=$(field selected "$out")
  peak_kb=$(field peak_kb "$out")
  written=$(field wchar "$out")
  changed=$(field changed_bytes "$diff")
  purge_time[$n]=$secs
  share=$(awk -v s="$selected" -v n="$n" 'BEGIN { printf "%.1f", 100 * s / n }')
  peak_mb=$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')
  rows+=("| $n | $(mb "$size") | $selected ($share %) | $secs | $export_s | $cat_s | $(ratio "$secs" "$export_s") | $peak_mb | $(mb "$written") | $(mb "$changed") | $(ratio "$written" "$changed") |")
  echo "$n $secs $peak_mb $export_s $cat_s" >>"$data"
  echo "  generated in ${gen} s, $(mb "$size") MB; mdb-export ${export_s} s; cat ${cat_s} s; $diff" >&2
  if [ -z "$window" ] || [ "$n" != 100000 ]; then rm -f "$base"; fi
done

echo
echo "Cut-off $cutoff; up to 10 rows per client in each dependent table, scattered."
echo "Times in seconds, sizes in MB (10^6 bytes); written = bytes handed to write calls"
echo "(/proc/self/io wchar: the file and its journal); changed = pages that differ after."
echo
echo "| clients | file MB | selected | purge s | mdb-export s | cat s | purge/mdb-export | peak MiB | written MB | changed MB | written/changed |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ -n "${purge_time[100000]:-}" ] && [ -n "${purge_time[1000000]:-}" ]; then
  echo
  echo "Purge time 100 000 -> 1 000 000 clients: x$(ratio "${purge_time[1000000]}" "${purge_time[100000]}")"
fi

if command -v gnuplot >/dev/null; then
  gnuplot <<EOF
set terminal png size 900,500
set output "$work/scale.png"
set logscale x
set xlabel "clients"
set ylabel "seconds"
set y2label "peak MiB"
set y2tics
set ytics nomirror
set key top left
plot "$data" using 1:2 with linespoints title "purge s", \
     "$data" using 1:4 with linespoints title "mdb-export s", \
     "$data" using 1:3 axes x1y2 with linespoints title "peak MiB"
EOF
  echo
  echo "Chart: $work/scale.png"
fi

# The real program at 100 000 clients, from "Sí" to "Borrado Terminado",
# three times, each beside a scripted purge of a fresh copy of the same
# file: this machine's speed wanders by a tenth from one run to the next,
# so the medians are compared.
if [ -n "$window" ]; then
  base=$work/clientes-100000.mdb
  [ -f "$base" ] || "$mkclientes" "$base" --clients 100000 --max-deps 10 --scatter --force --quiet
  run=$work/window
  mkdir -p "$run"
  cp "$build_dir/src/window/borrar-inactivos" "$run/"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
  # Xvfb picks a free display number and writes it to fd 3 once it is ready.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$run/display" ] && break; sleep 0.1; done
  DISPLAY=":$(head -n1 "$run/display")"
  export DISPLAY
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  sleep 1
  find_window() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -n1; }
  # One run of the program on a fresh copy; prints its seconds.
  window_once() {
    rm -f "$run/clientes.ldb"
    cp "$base" "$run/clientes.mdb"
    sync "$run/clientes.mdb"
    cat "$run/clientes.mdb" >/dev/null
    (cd "$run" && exec ./borrar-inactivos) 2>"$run/program.log" &
    local app=$! win box t0 t1= line listener events
    win=$(find_window "Borrar Inactivos por Fechas")
    xdotool mousemove --window "$win" 78 14 click 1 type "$cutoff"
    xdotool key Tab space  # "Borrar"
    # The closing box, "Borrado Terminado", is the first window mapped after
    # "Sí": the X server tells a listener on the root window (xev), and each
    # report is timed as it arrives, so that nothing asks the server
    # anything while the purge runs (a process looking every few
    # milliseconds takes its share of a small machine's processors).
    exec {events}< <(exec stdbuf -oL xev -root -event substructure)
    listener=$!
    box=$(find_window "Atención")
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    while IFS= read -r -t 0.3 -u "$events" _; do :; done  # what came before
    t0=$EPOCHREALTIME
    xdotool key s  # "Sí"
    while IFS= read -r -t 1800 -u "$events" line; do
      case $line in MapNotify*) t1=$EPOCHREALTIME; break ;; esac
    done
    exec {events}<&-
    xdotool key Return
    sleep 0.5
    kill "$app" "$listener" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    [ -n "$t1" ] || { echo "scale.sh: the closing box never came" >&2; return 1; }
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
  }
  scripted_once() {
    local copy=$work/purge-window.mdb out
    cp "$base" "$copy"
    sync "$copy"
    cat "$copy" >/dev/null
    out=$("$purge_scale" "$copy" "$cutoff")
    rm -f "$copy" "$work/purge-window.ldb"
    printf '%.2f' "$(field seconds "$out")"
  }
  windows=() scripted=()
  for _ in 1 2 3; do
    scripted+=("$(scripted_once)")
    windows+=("$(window_once)")
  done
  kill "$wm" "$xvfb" 2>/dev/null || true
  window_s=$(median "${windows[@]}")
  scripted_s=$(median "${scripted[@]}")
  echo
  echo "Window run at 100 000 clients, from \"Sí\" to \"Borrado Terminado\":" \
    "${windows[*]} s (median $window_s); scripted purge beside it: ${scripted[*]} s" \
    "(median $scripted_s); ratio $(ratio "$window_s" "$scripted_s")"
fi
