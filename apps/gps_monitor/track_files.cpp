#include "apps/gps_monitor/track_files.hpp"

#include <cmath>
#include <cstdio>

#include "base/text_rules.hpp"
#include "geo/great_circle.hpp"

namespace quorvane::monitor {
namespace {

// "2026-12-08T12:00:00Z" (with the fraction the receiver gave), or empty without a date or a
// well-formed time.
std::string IsoTime(const FixRecord& fix) {
  if (!fix.date || !fix.utc_time_field) return {};
  const std::string_view field = *fix.utc_time_field;
  size_t digits = 0;
  while (digits < field.size() && field[digits] >= '0' && field[digits] <= '9') ++digits;
  if (digits != 6) return {};
  std::string_view fraction = field.substr(6);
  if (!fraction.empty()) {
    size_t end = 1;
    while (end < fraction.size() && fraction[end] >= '0' && fraction[end] <= '9') ++end;
    fraction = fraction[0] == '.' && end > 1 ? fraction.substr(0, end) : std::string_view();
  }
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02dT", fix.date->year, fix.date->month,
                fix.date->day);
  std::string time = date;
  time.append(field.substr(0, 2)).append(":").append(field.substr(2, 2)).append(":");
  time.append(field.substr(4, 2)).append(fraction).append("Z");
  return time;
}

std::string FirstFailure(std::string first, std::string next) {
  return first.empty() ? next : first;
}

}  // namespace

TrackFix TrackFixOf(const FixRecord& fix) {
  TrackFix track_fix{fix.latitude.value_or(0),
                     fix.longitude.value_or(0),
                     fix.altitude,
                     IsoTime(fix),
                     std::nullopt,
                     std::nullopt,
                     ""};
  if (const auto satellites = ReadStrict(fix.SatellitesText);
      satellites && *satellites >= 0 && *satellites < 1000) {
    track_fix.satellites = static_cast<int>(*satellites);
  }
  if (const auto hdop = ReadStrict(fix.HdopText); hdop && std::isfinite(*hdop)) {
    track_fix.hdop = *hdop;
  }
  track_fix.fix = fix.QualityText == "2" ? "dgps" : fix.altitude ? "3d" : "2d";
  return track_fix;
}

std::string TrackFiles::Open(const std::vector<std::string>& paths, const std::string& name) {
  for (const auto& path : paths) {
    auto writer = TrackWriterFor(path);
    if (!writer) continue;  // the control's own KML
    if (std::string failure = writer->Open(path, name); !failure.empty()) return failure;
    writers_.push_back(std::move(writer));
  }
  return {};
}

void TrackFiles::Take(const FixRecord& fix) {
  const bool on_the_globe =
      fix.latitude && fix.longitude && OnTheGlobe(*fix.latitude, *fix.longitude);
  if (!fix.position_reported) {
    for (auto& writer : writers_) writer->Gap();
    return;
  }
  if (!on_the_globe) return;  // a broken sentence, not a loss of fix
  const TrackFix track_fix = TrackFixOf(fix);
  for (auto& writer : writers_) writer->Point(track_fix);
}

std::string TrackFiles::EndOfBlock() {
  std::string failure;
  for (auto& writer : writers_) failure = FirstFailure(failure, writer->Flush());
  return failure;
}

std::string TrackFiles::Finish() {
  std::string failure;
  for (auto& writer : writers_) failure = FirstFailure(failure, writer->Finish());
  writers_.clear();
  return failure;
}

}  // namespace quorvane::monitor
