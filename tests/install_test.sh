#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds the C++ example host against the installed
# CMake package and checks the pkg-config module: a broken export or header set fails here.
set -euo pipefail
build_dir=$1
source_dir=$2
# Staged as a package is: the prefix /usr under a root of its own (the configuration goes to /etc,
# which DESTDIR keeps inside it).
root=$(mktemp -d)
prefix=$root/usr
server=
trap 'if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi; rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build_dir" --prefix /usr >/dev/null
for file in etc/quorvane-gps/gps-monitor.conf usr/lib/systemd/system/gps-monitor.service \
    usr/lib/systemd/system/gps-monitor.socket usr/lib/systemd/system/gps-monitor-web.socket \
    usr/lib/udev/rules.d/60-quorvane-gps.rules; do
  test -f "$root/$file" || { echo "not installed: /$file" >&2; exit 1; }
done
# Only what a host needs: the two entry headers and what gps.hpp names, the programs.
installed=$(cd "$prefix/include/quorvane-gps" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
expected="base/clock_reading.hpp base/time_of_day.hpp base/version.hpp control/face.hpp \
control/gps.hpp gps.hpp nmea/fix.hpp nmea/fix_properties.hpp nmea/fix_record.hpp \
nmea/sentence_census.hpp nmea/sentences.hpp platform/platform.hpp qgps.h receiver/sinks.hpp \
sinks/gpsd_json.hpp sources/block_source.hpp sources/source_settings.hpp "
if [ "$installed" != "$expected" ]; then
  echo "installed headers: $installed" >&2
  echo "expected:          $expected" >&2
  exit 1
fi
test -x "$prefix/bin/gps-monitor"
# The library in Debian's multiarch folder.
libdir=$(dirname "$(ls "$prefix"/lib/*/libquorvane-gps.so)")
test -x "$prefix/bin/nmea-simulate"
test -f "$prefix/share/man/man1/gps-monitor.1.gz"
cmake -S "$source_dir/examples/cpp_host" -B "$prefix/host-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/host-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$prefix/host-build/gps-host"

# A host that serves its own receiver: gpsd's clients and a browser read it.
cmake -S "$source_dir/examples/serving_host" -B "$prefix/serve-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/serve-build" >/dev/null
"$prefix/bin/nmea-simulate" --duration 30 --start 0 -o "$prefix/drive.nmea" >/dev/null
LD_LIBRARY_PATH="$libdir" "$prefix/serve-build/gps-serve" "file:$prefix/drive.nmea?speed=5" \
  127.0.0.1:0 127.0.0.1:0 >"$prefix/serving" &
server=$!
for _ in $(seq 100); do [ "$(wc -l <"$prefix/serving")" -ge 2 ] && break; sleep 0.1; done
gpsd_port=$(sed -n 's/.* gpsd clients on 127.0.0.1:\([0-9]*\)$/\1/p' "$prefix/serving")
map_port=$(sed -n 's/.* map clients on 127.0.0.1:\([0-9]*\)$/\1/p' "$prefix/serving")
reports=$(timeout 20 gpspipe -w -n 6 "127.0.0.1:$gpsd_port")
grep -q '"class":"TPV"' <<<"$reports"
python3 -c "import urllib.request,sys; sys.exit(b'leaflet' not in urllib.request.urlopen('http://127.0.0.1:$map_port/', timeout=10).read())"
wait "$server"
server=

export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs quorvane-gps)
cat >"$prefix/abi.c" <<'C'
#include <stdio.h>
#include <quorvane-gps/qgps.h>
int main(void) {
  qgps_control *gps = qgps_create();
  qgps_variant result = {0};
  int code = qgps_invoke(gps, qgps_id_of_name("Version"), QGPS_METHOD, NULL, 0, &result);
  printf("C host: Version %s\n", code == QGPS_OK ? result.str : "?");
  qgps_variant_clear(&result);
  qgps_destroy(gps);
  return code;
}
C
# shellcheck disable=SC2086
cc "$prefix/abi.c" -o "$prefix/abi" $flags
LD_LIBRARY_PATH="$libdir" "$prefix/abi"
echo "installed package: passed"
