#include "sinks/track_writer.hpp"

#include <algorithm>

#include "sinks/csv_writer.hpp"
#include "sinks/geojson_writer.hpp"
#include "sinks/gpx_writer.hpp"

namespace quorvane {

std::string TrackWriter::Open(const std::string& path, const std::string& name) {
  path_ = path;
  if (!file_.Open(path)) return file_.Failure();
  Begin(name);
  return Flush();
}

TrackWriter::Place TrackWriter::NextPoint() {
  const Place place = points_ == 0 ? Place::kFirst : gap_ ? Place::kAfterGap : Place::kWithin;
  ++points_;
  gap_ = false;
  return place;
}

std::string TrackWriter::Flush() {
  file_.Flush();
  return file_.Failure();
}

std::string TrackWriter::Finish() {
  if (!file_.IsOpen()) return file_.Failure();
  End();
  file_.Close();
  return file_.Failure();
}

std::unique_ptr<TrackWriter> TrackWriterFor(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.ends_with(".gpx")) return std::make_unique<GpxWriter>();
  if (lower.ends_with(".geojson")) return std::make_unique<GeoJsonWriter>();
  if (lower.ends_with(".csv")) return std::make_unique<CsvWriter>();
  return nullptr;
}

}  // namespace quorvane
