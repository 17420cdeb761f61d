#!/usr/bin/env bash
# Builds the Debian package from the release build, unpacks it into a temporary folder, runs
# gps-monitor from there on the sample drive it ships, and has lintian check it: no errors.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/quorvane-gps_*.deb)
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -f "$deb" Depends | grep -q libjs-leaflet || { echo "the package does not depend on libjs-leaflet"; exit 1; }
"$work/root/usr/bin/gps-monitor" --version | grep -q "^gps-monitor 5\."
fixes=$("$work/root/usr/bin/gps-monitor" --speed max --json 2>/dev/null | grep -c '"class":"TPV"')
[[ $fixes == 600 ]] || { echo "the packaged gps-monitor printed $fixes fixes, not 600"; exit 1; }
for file in usr/include/quorvane-gps/qgps.h usr/include/quorvane-gps/gps.hpp \
    usr/lib/pkgconfig/quorvane-gps.pc usr/lib/cmake/quorvane-gps/quorvane-gpsConfig.cmake \
    usr/share/man/man1/gps-monitor.1.gz usr/bin/nmea-simulate; do
  [[ -e "$work/root/$file" ]] || { echo "missing from the package: $file"; exit 1; }
done
lintian --no-tag-display-limit "$deb" 2>&1 | grep -v "running with root privileges" >"$work/lintian" || true
cat "$work/lintian"
if grep -q "^E:" "$work/lintian"; then exit 1; fi
echo "Debian package: passed"
