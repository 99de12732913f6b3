#!/usr/bin/env bash
# Builds the Debian package in BUILD_DIR/package-check, then checks that it
# depends on Qt's platform plugins and that lintian finds nothing to say.
#   check_package.sh BUILD_DIR
set -euo pipefail
build=$1
out=$build/package-check
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null
deb=$(ls "$out"/quadrilo_*.deb)
dpkg-deb -f "$deb" Depends | grep -qw qt6-qpa-plugins || { echo "$deb: Depends lacks qt6-qpa-plugins"; exit 1; }
lintian --fail-on error,warning "$deb"
echo "$deb: depends on qt6-qpa-plugins, lintian passes it"
