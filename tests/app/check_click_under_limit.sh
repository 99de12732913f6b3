#!/bin/sh
# A click computes with three threads for the user (prlimit --nproc=3, which
# binds only users other than root): the window's, the evaluations' and one
# helper of the engine's. Runs the window offscreen as the user nobody; needs
# root to become nobody (skipped otherwise).
set -u
program=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "needs root, to run as nobody"; exit 77; }
nobody=65534
home=$(mktemp -d)
chown $nobody:$nobody "$home"
trap 'rm -rf "$home"' EXIT
for limit in 3 4 5; do
  if setpriv --reuid=$nobody --regid=$nobody --clear-groups \
      env HOME="$home" XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
      prlimit --nproc="$limit" "$program"; then
    echo "nproc $limit: computed"
  else
    echo "nproc $limit: did not compute"
    exit 1
  fi
done
