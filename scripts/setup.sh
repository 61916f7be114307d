#!/usr/bin/env bash
# Installs, idempotently, everything the build, the tests and the benchmarks need:
# Debian packages and the pinned npm test dependencies under tests/.
set -euo pipefail
cd "$(dirname "$0")/.."

debs=(
  cmake g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  mdbtools
  xvfb xauth xdotool
  clang-format
  clang libfuzzer-14-dev
  qt6-translations-l10n openbox x11-utils
  g++-mingw-w64-x86-64-posix wine64 nsis imagemagick
  gnuplot-nox
)

missing=()
for p in "${debs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node.js and npm: the machine may already carry a Node.js that bundles npm;
# only when either command is missing are Debian's packages brought in.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing_node=()
  command -v node >/dev/null 2>&1 || missing_node+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing_node+=(npm)
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing_node[@]}"
fi

# npm test dependencies, exactly as the lock file pins them.
if [ ! -d tests/node/node_modules/mdb-reader ]; then
  echo "setup: installing npm test dependencies"
  (cd tests/node && npm ci --no-audit --no-fund --loglevel=error)
fi
