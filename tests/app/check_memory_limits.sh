#!/bin/sh
# Under every address-space limit from 30 to 200 MB the program either starts
# (still running after 3 s, offscreen) or ends with status 1 and an Italian
# sentence; the loader may refuse it before any of its code runs. It never
# aborts or crashes.
#
# Fontconfig that runs out of memory while it reads its caches writes them
# again, empty: as root it would empty the system's. The runs are the user
# nobody's when the test is root's, with a home of their own.
set -u
program=$(realpath "$1")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
as=""
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$home"
  as="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
failed=0
for mb in 30 40 50 60 70 80 90 100 120 150 200; do
  err=$($as env HOME="$home" XDG_CACHE_HOME="$home/cache" QT_QPA_PLATFORM=offscreen \
    prlimit --as=$(( mb * 1000 * 1024 )) timeout 3 "$program" 2>&1 >/dev/null)
  status=$?
  case $status in
    124) verdict="starts" ;;
    1) if echo "$err" | grep -q "Quadrilo: "; then verdict="says why"; else verdict="status 1, no Italian sentence"; failed=1; fi ;;
    127) if echo "$err" | grep -q "error while loading shared libraries"; then verdict="not loaded"; else verdict="status 127"; failed=1; fi ;;
    *) verdict="status $status: $(echo "$err" | tail -n 1)"; failed=1 ;;
  esac
  echo "$mb MB: $verdict"
done
exit $failed
