#!/bin/sh
# Started with no display, the program says so in Italian and ends with
# status 1, without Qt's English advice.
set -u
program=$1
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1 >/dev/null)
status=$?
echo "$err"
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; exit 1; }
echo "$err" | grep -q "sessione grafica" || { echo "no Italian message"; exit 1; }
if echo "$err" | grep -qi "reinstall"; then echo "Qt's English advice shown"; exit 1; fi
echo "no display: ok"
