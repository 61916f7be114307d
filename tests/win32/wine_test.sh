#!/bin/sh
# Runs one Windows test program under Wine: wine_test.sh LOADER PROGRAM [ARGS].
#
# Wine's own start-up can fail before the program runs at all: a client
# that reaches the Wine server while it is starting or stopping gets
# "wine client error: ... Connection reset by peer" and exits. That says
# nothing of the program, so such a start is tried again, up to three
# times in all; any other failure is the program's and is reported as is.
loader=$1
shift
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
try=1
while :; do
  "$loader" "$@" >"$out" 2>&1
  status=$?
  cat "$out"
  [ "$status" = 0 ] && exit 0
  grep -q '^wine client error' "$out" || exit "$status"
  [ "$try" -ge 3 ] && exit "$status"
  echo "(Wine failed to start the program; trying again)"
  try=$((try + 1))
  sleep 2
done
