#!/bin/sh
# Under a limit on its user's processes and threads (prlimit --nproc, which
# binds only users other than root), the program started from a graphical
# session with a session bus either shows its window or ends with status 1
# and an Italian sentence; it never waits for good. Runs as the user nobody,
# on a display of its own; needs root to become nobody (skipped otherwise).
set -u
program=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "needs root, to run as nobody"; exit 77; }
nobody=65534
display=60
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$(( display + 1 )); done
Xvfb ":$display" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
reap() {
  pkill -9 -u $nobody -f "$program|dbus-daemon|dbus-run-session" 2>/dev/null
  for _ in $(seq 50); do pgrep -u $nobody -f "$program|dbus-daemon|dbus-run-session" >/dev/null || break; sleep 0.1; done
}
home=$(mktemp -d)
chown $nobody:$nobody "$home"
trap 'reap; kill $xvfb 2>/dev/null; rm -rf "$home"' EXIT
failed=0
log=$(mktemp)
for limit in 2 3 4 5 6 7 8 10 12; do
  reap
  setpriv --reuid=$nobody --regid=$nobody --clear-groups \
    env -u QT_QPA_PLATFORM HOME="$home" XDG_CACHE_HOME="$home/cache" DISPLAY=":$display" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    dbus-run-session -- prlimit --nproc="$limit" "$program" >"$log" 2>&1 &
  session=$!
  verdict=""
  for _ in $(seq 80); do
    if DISPLAY=":$display" xdotool search --name '^Form1$' >/dev/null 2>&1; then verdict="window"; break; fi
    if ! kill -0 $session 2>/dev/null; then
      wait $session
      status=$?
      if [ "$status" -eq 1 ] && grep -q "^Quadrilo: " "$log"; then verdict="says why"; else verdict="status $status"; failed=1; fi
      break
    fi
    sleep 0.1
  done
  [ -n "$verdict" ] || { verdict="neither a window nor an end in 8 s"; failed=1; }
  echo "nproc $limit: $verdict"
done
rm -f "$log"
exit $failed
