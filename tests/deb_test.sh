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
# The service: its units (as systemd reads them), the udev rule, the configuration as a conffile.
for file in usr/lib/systemd/system/gps-monitor.service usr/lib/systemd/system/gps-monitor.socket \
    usr/lib/udev/rules.d/60-quorvane-gps.rules etc/quorvane-gps/gps-monitor.conf; do
  [[ -e "$work/root/$file" ]] || { echo "missing from the package: $file"; exit 1; }
done
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/quorvane-gps/gps-monitor.conf "$work/control/conffiles" ||
  { echo "the configuration is no conffile"; exit 1; }
mkdir "$work/units"
cp "$work/root/usr/lib/systemd/system/"gps-monitor.* "$work/units/"
sed -i "s|/usr/bin/gps-monitor|$work/root/usr/bin/gps-monitor|" "$work/units/gps-monitor.service"
systemd-analyze verify --man=no "$work/units/gps-monitor.socket" "$work/units/gps-monitor.service"
# The shipped configuration is one gps-monitor reads: its receiver is absent here, so it says so
# once and waits for it; stopped while waiting, the run fails (exit 1, not a usage error's 2).
"$work/root/usr/bin/gps-monitor" --config "$work/root/etc/quorvane-gps/gps-monitor.conf" \
  --serve-gpsd 127.0.0.1:0 >/dev/null 2>"$work/said" &
monitor=$!
for _ in $(seq 200); do
  grep -q "Cannot connect to serial:/dev/gps0" "$work/said" && break
  sleep 0.1
done
kill -TERM $monitor
status=0
wait $monitor || status=$?
grep -q "Cannot connect to serial:/dev/gps0" "$work/said" ||
  { echo "the shipped configuration did not wait for /dev/gps0:"; cat "$work/said"; exit 1; }
[[ $status == 1 ]] || { echo "the shipped configuration gave exit $status"; exit 1; }
lintian --no-tag-display-limit "$deb" 2>&1 | grep -v "running with root privileges" >"$work/lintian" || true
cat "$work/lintian"
if grep -q "^E:" "$work/lintian"; then exit 1; fi
echo "Debian package: passed"
