#include "sinks/geojson_writer.hpp"

#include "sinks/track_files.hpp"

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

// The two forms take the same room, so one can be written over the other.
constexpr std::string_view kLineString = "\"LineString\"     ";
constexpr std::string_view kMultiLineString = "\"MultiLineString\"";
static_assert(kLineString.size() == kMultiLineString.size());

}  // namespace

void GeoJsonWriter::Begin(const std::string& name) {
  name_ = name;
  times_.SpoolTo(path_ + ".times.tmp");
  out() << "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"geometry\":{"
           "\"type\":";
  type_at_ = out().tellp();
  out() << kLineString << ",\"coordinates\":";
  coordinates_at_ = out().tellp();
  out() << " [";
}

void GeoJsonWriter::BecomeMulti() {
  if (multi_) return;
  multi_ = true;
  const std::streampos end = out().tellp();
  out().seekp(type_at_);
  out() << kMultiLineString;
  out().seekp(coordinates_at_);
  out() << "[[";
  out().seekp(end);
}

void GeoJsonWriter::Point(const TrackFix& fix) {
  switch (NextPoint()) {
    case Place::kFirst:
      break;
    case Place::kAfterGap:
      BecomeMulti();
      out() << "],[";
      times_.Append("],[");
      break;
    case Place::kWithin:
      out() << ",";
      times_.Append(",");
      break;
  }
  std::string position = "[";
  AppendNumberText(fix.longitude, position);
  position += ',';
  AppendNumberText(fix.latitude, position);
  if (fix.altitude) {
    position += ',';
    AppendNumberText(*fix.altitude, position);
  }
  out() << position << ']';
  times_.Append(fix.time.empty() ? "null" : "\"" + fix.time + "\"");
}

void GeoJsonWriter::End() {
  const char* open = multi_ ? "[[" : "[";
  const char* close = multi_ ? "]]" : "]";
  out() << close << "},\"properties\":{\"name\":" << JsonQuoted(name_) << ",\"times\":" << open;
  times_.ForEachPiece([this](std::string_view piece) {
    out().write(piece.data(), static_cast<std::streamsize>(piece.size()));
  });
  out() << close << "}}]}\n";
  times_.Clear();
}

void RegisterGeoJsonSinks(SinkFactory& factory) {
  RegisterTrackFormat(factory, ".geojson", [] { return std::make_unique<GeoJsonWriter>(); });
}

}  // namespace quorvane
