#!/usr/bin/env bash
# Builds the three Debian packages from the release build (the library, its -dev package, and the
# programs with the service), installs each with dpkg into a root of the test's own (the
# dependencies judged against this machine's installed packages), runs gps-monitor from there on
# the sample drive it ships, builds a C++ host against the -dev package alone, and has lintian
# check each package: no errors.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$work/package" >/dev/null)
library=$(ls "$work"/package/libquorvane-gps5_*.deb)
development=$(ls "$work"/package/libquorvane-gps-dev_*.deb)
daemon=$(ls "$work"/package/quorvane-gps_*.deb)
# The library's package is named after its soname; the -dev package needs this very version.
soname=$(dpkg-deb --fsys-tarfile "$library" | tar -t | sed -n 's|.*/\(libquorvane-gps\.so\.[0-9]*\)$|\1|p')
[[ $soname == libquorvane-gps.so.5 ]] || { echo "the library's soname is $soname"; exit 1; }
dpkg-deb -f "$development" Depends | grep -q "libquorvane-gps5 (= " ||
  { echo "the -dev package does not depend on its library's version"; exit 1; }
dpkg-deb -f "$daemon" Depends | grep -q libjs-leaflet ||
  { echo "the daemon's package does not depend on libjs-leaflet"; exit 1; }
# Loaded when first used, so no shlibs entry names them: the control files must.
for deb in "$library" "$daemon"; do
  for needed in libmosquitto1 libnats3.4 libsystemd0; do
    dpkg-deb -f "$deb" Depends | grep -qw "$needed" ||
      { echo "$(basename "$deb") does not depend on $needed"; exit 1; }
  done
done

# dpkg of the test's own: this machine's package list, files under $work/root.
mkdir -p "$work/admin/updates" "$work/admin/info" "$work/root"
cp /var/lib/dpkg/status "$work/admin/status"
: >"$work/admin/available"
install_package() {
  dpkg --admindir="$work/admin" --instdir="$work/root" --force-not-root --force-script-chrootless \
    -i "$1" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; echo "dpkg could not install $1"; exit 1; }
}
# The -dev package alone is refused: its library is not there yet.
if dpkg --admindir="$work/admin" --instdir="$work/root" --force-not-root \
    --force-script-chrootless -i "$development" >/dev/null 2>&1; then
  echo "the -dev package installed without its library"; exit 1
fi
dpkg --admindir="$work/admin" --instdir="$work/root" --force-not-root --force-script-chrootless \
  --purge libquorvane-gps-dev >/dev/null 2>&1 || true
install_package "$library"
install_package "$development"
install_package "$daemon"
libdir=$(cd "$work/root" && dirname "$(ls usr/lib/*/libquorvane-gps.so.5)")
for file in usr/include/quorvane-gps/qgps.h usr/include/quorvane-gps/gps.hpp \
    $libdir/pkgconfig/quorvane-gps.pc $libdir/cmake/quorvane-gps/quorvane-gpsConfig.cmake \
    $libdir/libquorvane-gps.so.5 usr/share/man/man1/gps-monitor.1.gz usr/bin/nmea-simulate; do
  [[ -e "$work/root/$file" ]] || { echo "not installed: $file"; exit 1; }
done
"$work/root/usr/bin/gps-monitor" --version | grep -q "^gps-monitor 5\."
fixes=$("$work/root/usr/bin/gps-monitor" --speed max --json 2>/dev/null | grep -c '"class":"TPV"')
[[ $fixes == 600 ]] || { echo "the packaged gps-monitor printed $fixes fixes, not 600"; exit 1; }
# A C++ host built against what the packages installed, and nothing of the build tree.
cmake -S "$source_dir/examples/cpp_host" -B "$work/host" -DCMAKE_PREFIX_PATH="$work/root/usr" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/host" >/dev/null
LD_LIBRARY_PATH="$work/root/$libdir" "$work/host/gps-host" >/dev/null
# The service: its units (as systemd reads them), the udev rule, the configuration as a conffile.
for file in usr/lib/systemd/system/gps-monitor.service usr/lib/systemd/system/gps-monitor.socket \
    usr/lib/udev/rules.d/60-quorvane-gps.rules etc/quorvane-gps/gps-monitor.conf; do
  [[ -e "$work/root/$file" ]] || { echo "not installed: $file"; exit 1; }
done
dpkg --admindir="$work/admin" -s quorvane-gps | grep -q "^ /etc/quorvane-gps/gps-monitor.conf " ||
  { echo "the configuration is no conffile"; exit 1; }
mkdir "$work/units"
cp "$work/root/usr/lib/systemd/system/"gps-monitor* "$work/units/"
sed -i "s|/usr/bin/gps-monitor|$work/root/usr/bin/gps-monitor|" "$work/units/gps-monitor.service"
systemd-analyze verify --man=no "$work/units/gps-monitor.socket" "$work/units/gps-monitor-web.socket" \
  "$work/units/gps-monitor.service"
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
for deb in "$library" "$development" "$daemon"; do
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" >>"$work/lintian" || true
done
cat "$work/lintian"
if grep -q "^E:" "$work/lintian"; then exit 1; fi
echo "Debian packages: passed"
