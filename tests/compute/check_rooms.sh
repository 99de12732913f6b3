#!/usr/bin/env bash
# The rooms of compute/ stand on one another: each includes only its own
# headers and those of the rooms below it, so that none reaches back up a
# floor. The evaluation itself ("top") is the files at compute/'s top.
#   check_rooms.sh SOURCE_DIR
set -euo pipefail
cd "$1/compute"
declare -A below=(
  [loop]="" [exact]="" [threads]=""
  [kernels]="exact loop"
  [periods]="exact kernels loop threads"
  [top]="exact kernels loop periods threads"
  [yardsticks]="top exact kernels loop periods threads"
)
room_of() { case $1 in */*) echo "${1%%/*}" ;; *) echo top ;; esac; }
failed=0
for file in $(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort); do
  room=$(room_of "$file")
  [ -n "${below[$room]+set}" ] || { echo "$file: in no known room"; failed=1; continue; }
  for used in $(sed -n 's|^#include "compute/\(.*\)"|\1|p' "$file"); do
    other=$(room_of "$used")
    [ "$other" = "$room" ] && continue
    case " ${below[$room]} " in
      *" $other "*) ;;
      *) echo "$file ($room) includes compute/$used ($other), which is not below it"; failed=1 ;;
    esac
  done
done
[ "$failed" -eq 0 ] && echo "every include of compute/ runs down a floor or stays in its room"
exit "$failed"
