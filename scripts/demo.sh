#!/usr/bin/env bash
# Starts the tool on a demo database: installs what is missing, builds, makes
# a clientes.mdb with a few thousand made-up clients beside the program when
# there is none, and starts the program there. A purge changes that database
# for good, so a later start finds it purged; --nueva makes a fresh one.
#
#   scripts/demo.sh [--nueva]
# Environment: BUILD_DIR (default build), DEMO_CLIENTS (default 3000),
# DEMO_SEED (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

fresh=0
for arg in "$@"; do
  case "$arg" in
    --nueva) fresh=1 ;;
    -h | --help)
      echo "uso: scripts/demo.sh [--nueva]"
      echo "  --nueva  descarta la base de datos de demostración existente y crea otra"
      exit 0
      ;;
    *)
      echo "demo: opción desconocida '$arg' (uso: scripts/demo.sh [--nueva])" >&2
      exit 2
      ;;
  esac
done

build_dir=${BUILD_DIR:-build}
clients=${DEMO_CLIENTS:-3000}
seed=${DEMO_SEED:-1}
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh

echo "== build ($build_dir)"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j"$jobs" --target mkclientes borrar-inactivos

program="$build_dir/src/window/borrar-inactivos"
if [ ! -x "$program" ]; then
  echo "demo: no se encuentra el programa $program" >&2
  exit 1
fi

database="$(dirname "$program")/clientes.mdb"
if [ "$fresh" = 1 ]; then
  # A lock file says a program has the database open: it is not pulled away
  # from under it.
  if [ -e "$(dirname "$program")/clientes.ldb" ]; then
    echo "demo: la base de datos está en uso (existe clientes.ldb); cierre el programa" >&2
    exit 1
  fi
  # Its journal belongs to the database being replaced.
  rm -f "$database" "$database-journal"
fi
if [ ! -e "$database" ]; then
  echo "== clientes.mdb de demostración ($clients clientes)"
  "$build_dir/tools/mkclientes" "$database" --clients "$clients" --seed "$seed"
else
  echo "== se usa la base de datos existente $database (scripts/demo.sh --nueva crea otra)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "demo: no hay pantalla (DISPLAY no está definido); el programa no puede mostrarse" >&2
  exit 1
fi

echo "== borrar-inactivos"
cd "$(dirname "$program")"
exec "./$(basename "$program")"
