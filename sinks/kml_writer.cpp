#include "sinks/kml_writer.hpp"

#include <cmath>

#include "base/text_rules.hpp"
#include "geo/great_circle.hpp"

namespace quorvane {
namespace {

// The path through the placemarks: three pixels wide, opaque green.
constexpr int16_t kPathWidth = 3;
constexpr const char* kPathColor = "FF00FF00";

// "2026-12-09 08:41:05": a placemark's name, the clock's reading when it was made.
void AssignClockText(const ClockReading& now, std::string& text) {
  text.assign("0000-00-00 00:00:00");
  PutDigits(text, 0, now.year, 4);
  PutDigits(text, 5, now.month, 2);
  PutDigits(text, 8, now.day, 2);
  PutDigits(text, 11, now.hour, 2);
  PutDigits(text, 14, now.minute, 2);
  PutDigits(text, 17, now.second, 2);
}

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
  AssignClockText(platform_.Now(), name_);
  // The writer adds the zone's "Z" itself.
  when_.assign(fix.time, 0, fix.time.empty() ? 0 : fix.time.size() - 1);
  kml_.CreatePlaceMark(fix.latitude, fix.longitude, *fix.altitude, name_, "", when_);
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
