#include "sinks/csv_writer.hpp"

#include "sinks/track_files.hpp"

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

std::string Cell(const std::optional<double>& value) {
  return value ? NumberToText(*value) : std::string();
}

}  // namespace

// The track's name has no place in a table of points.
void CsvWriter::Begin(const std::string&) {
  out() << "time,lat,lon,alt,speed,course\r\n";
}

void CsvWriter::Point(const TrackFix& fix) {
  NextPoint();
  out() << fix.time << ',' << NumberToText(fix.latitude) << ',' << NumberToText(fix.longitude)
        << ',' << Cell(fix.altitude) << ',' << Cell(fix.speed) << ',' << Cell(fix.course) << "\r\n";
}

void RegisterCsvSinks(SinkFactory& factory) {
  RegisterTrackFormat(factory, ".csv", [] { return std::make_unique<CsvWriter>(); });
}

}  // namespace quorvane
