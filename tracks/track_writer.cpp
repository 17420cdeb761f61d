#include "tracks/track_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "base/replaced_file.hpp"
#include "tracks/geojson_writer.hpp"
#include "tracks/gpx_writer.hpp"

namespace quorvane {

std::string TrackWriter::Open(const std::string& path, const std::string& name) {
  path_ = path;
  file_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  failure_ = OpenReplacing(path, file_);
  if (!failure_.empty()) return failure_;
  Begin(name);
  return Flush();
}

TrackWriter::Place TrackWriter::NextPoint() {
  const Place place = points_ == 0 ? Place::kFirst : gap_ ? Place::kAfterGap : Place::kWithin;
  ++points_;
  points_in_segment_ = place == Place::kWithin ? points_in_segment_ + 1 : 1;
  gap_ = false;
  return place;
}

std::string TrackWriter::Failure() {
  if (failure_.empty() && file_.is_open() && !file_.good()) {
    failure_ = "Cannot write " + path_ + ": " + std::generic_category().message(errno);
    file_.close();
  }
  return failure_;
}

std::string TrackWriter::Flush() {
  if (file_.is_open()) file_.flush();
  return Failure();
}

std::string TrackWriter::Finish() {
  if (!file_.is_open()) return failure_;
  End();
  file_.flush();
  const std::string failure = Failure();
  file_.close();
  return failure;
}

std::unique_ptr<TrackWriter> TrackWriterFor(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.ends_with(".gpx")) return std::make_unique<GpxWriter>();
  if (lower.ends_with(".geojson")) return std::make_unique<GeoJsonWriter>();
  return nullptr;
}

}  // namespace quorvane
