#!/bin/sh
# Compiles the Windows resource script with MinGW's windres and checks the
# version block it holds. Exits 77 (skipped) where windres is not installed.
set -eu
src=$1
out=$2
windres=$(command -v x86_64-w64-mingw32-windres || true)
[ -n "$windres" ] || { echo "windres not installed: skipped"; exit 77; }
"$windres" -I "$src/assets" -i "$src/app/quadrilo.rc" -O res -o "$out"
# The string table's key and values are stored as UTF-16.
for text in 041004B0 FileVersion ProductVersion 1.00 Translation; do
  utf16=$(printf '%s' "$text" | iconv -f ASCII -t UTF-16LE | od -An -tx1 | tr -d ' \n')
  od -An -tx1 "$out" | tr -d ' \n' | grep -q "$utf16" || { echo "missing $text"; exit 1; }
done
echo "windres: ok"
