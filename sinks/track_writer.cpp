#include "sinks/track_writer.hpp"

namespace quorvane {

std::string TextTrackWriter::Open(const std::string& path, const std::string& name) {
  path_ = path;
  if (!file_.Open(path)) return file_.Failure();
  Begin(name);
  return Flush();
}

TextTrackWriter::Place TextTrackWriter::NextPoint() {
  const Place place = points_ == 0 ? Place::kFirst : gap_ ? Place::kAfterGap : Place::kWithin;
  ++points_;
  gap_ = false;
  return place;
}

std::string TextTrackWriter::Flush() {
  file_.Flush();
  return file_.Failure();
}

std::string TextTrackWriter::Finish() {
  if (!file_.IsOpen()) return file_.Failure();
  End();
  file_.Close();
  return file_.Failure();
}

}  // namespace quorvane
