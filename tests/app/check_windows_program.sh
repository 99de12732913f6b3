#!/usr/bin/env bash
# The Windows program as it is handed out: the zip unpacked, quadrilo.exe
# started under wine with only what the zip brings, on an X server of its
# own, drawn by Qt's Windows plugin. Its window must come up with its title,
# and a picture of it shows the controls (left in the build folder).
#   check_windows_program.sh ZIP WORKDIR
set -euo pipefail
zip=$1
work=$2/windows-program
runner=$(cd "$(dirname "$0")/../.." && pwd)/cmake/wine-run
rm -rf "$work" && mkdir -p "$work"
(cd "$work" && cmake -E tar xf "$zip")

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
program=
cleanup() {
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  WINEPREFIX=$("$(dirname "$runner")/windows-libs-dir")/wine wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

WINEPATH= "$runner" "$work/Quadrilo/quadrilo.exe" >"$work/output.txt" 2>&1 &
program=$!
window=
for _ in $(seq 120); do
  window=$(xdotool search --onlyvisible --name '^Form1$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  if ! kill -0 "$program" 2>/dev/null; then
    echo "quadrilo.exe si è chiuso senza aprire la finestra:" >&2
    cat "$work/output.txt" >&2
    exit 1
  fi
  sleep 0.5
done
[ -n "$window" ] || { echo "Nessuna finestra «Form1» in 60 s" >&2; cat "$work/output.txt" >&2; exit 1; }
sleep 2 # the first paint
title=$(xdotool getwindowname "$window")
eval "$(xdotool getwindowgeometry --shell "$window")"
xwd -silent -id "$window" | xwdtopnm 2>/dev/null > "$work/window.ppm"
pnmtopng "$work/window.ppm" > "$work/window.png"
# The big blue caption "QUADRILO" and the blue "Integrale": painted pure
# blue, as the design has them.
blue=$(ppmhist -noheader "$work/window.ppm" | awk '$1 == 0 && $2 == 0 && $3 == 255 { print $5 }')
echo "title: $title; client area: ${WIDTH}x${HEIGHT}; pure blue pixels: ${blue:-0}; picture: $work/window.png"
[ "$title" = Form1 ] && [ "$WIDTH" -ge 900 ] && [ "${blue:-0}" -ge 5000 ]
