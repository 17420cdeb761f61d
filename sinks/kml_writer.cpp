#include "sinks/kml_writer.hpp"

#include <cmath>
#include <cstdio>

#include "geo/great_circle.hpp"

namespace quorvane {
namespace {

// The path through the placemarks: three pixels wide, opaque green.
constexpr int16_t kPathWidth = 3;
constexpr const char* kPathColor = "FF00FF00";

}  // namespace

std::string KmlWriter::Open(const std::string& path, const std::string& name) {
  kml_.ClearPath();
  kml_.SpoolPathTo(SpoolPathOf(path));
  kml_.CreateKML(path, name);
  return kml_.TakeFailure();
}

void KmlWriter::Point(const TrackFix& fix) {
  if (!fix.altitude || !std::isfinite(*fix.altitude)) return;
  if (!OnTheGlobe(fix.latitude, fix.longitude)) return;
  const ClockReading now = platform_.Now();
  char name[64];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  // The writer adds the zone's "Z" itself.
  const std::string when = fix.time.empty() ? "" : fix.time.substr(0, fix.time.size() - 1);
  kml_.CreatePlaceMark(fix.latitude, fix.longitude, *fix.altitude, name, "", when);
}

std::string KmlWriter::Flush() {
  kml_.Flush();
  return kml_.TakeFailure();
}

std::string KmlWriter::Finish() {
  kml_.CreatePathFromPlaceMarks(kPathWidth, kPathColor);
  kml_.CloseKML();
  kml_.ClearPath();
  return kml_.TakeFailure();
}

}  // namespace quorvane
