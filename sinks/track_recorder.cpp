#include "sinks/track_recorder.hpp"

#include "sinks/output.hpp"
#include "sinks/sink_factory.hpp"

#include <cmath>
#include <cstdio>

#include "geo/great_circle.hpp"

namespace quorvane {
namespace {

// The path through the placemarks: three pixels wide, opaque green.
constexpr int16_t kPathWidth = 3;
constexpr const char* kPathColor = "FF00FF00";

}  // namespace

TrackPoint TrackPointOf(const FixRecord& fix) {
  return {
      fix.latitude.value_or(0), fix.longitude.value_or(0), fix.altitude, fix.position_reported, {}};
}

void TrackRecorder::TakeGga(const DecodedGga& gga) {
  TrackPoint point = TrackPointOf(gga.fix);
  if (recording_) point.time = gga.time;
  Take(point);
}

TrackRecorder::~TrackRecorder() {
  if (recording_) Stop();
}

QuorvaneKML& TrackRecorder::Writer() {
  if (!writer_) writer_ = std::make_unique<QuorvaneKML>(platform_);
  return *writer_;
}

void TrackRecorder::Start(const std::string& file, const std::string& description) {
  if (recording_) Stop();
  recording_ = true;
  Writer().ClearPath();
  Writer().SpoolPathTo(SpoolPathOf(file));
  Writer().CreateKML(file, description);
  ReportFailure();
}

void TrackRecorder::Stop() {
  const bool was_recording = recording_;
  recording_ = false;
  unflushed_ = false;
  Writer().CreatePathFromPlaceMarks(kPathWidth, kPathColor);
  Writer().CloseKML();
  Writer().ClearPath();
  if (was_recording) ReportFailure();
}

void TrackRecorder::ReportFailure() {
  std::string failure = Writer().TakeFailure();
  if (failure.empty()) return;
  if (recording_) Stop();
  Writer().TakeFailure();  // what the stop could not write either is the same failure
  if (on_failure_) on_failure_(std::move(failure));
}

void TrackRecorder::Take(const TrackPoint& point) {
  if (!recording_) return;
  ++recorded_points_;
  // A sentence without a position decodes as 0,0; drawing it would send the track across the
  // globe and back. It is counted, like one without an altitude, but not drawn.
  if (!point.has_position || !point.altitude) return;
  // A field such as 99999.999 makes a longitude of 1000°: no reader takes such a file.
  if (!std::isfinite(*point.altitude) || !OnTheGlobe(point.latitude, point.longitude)) return;
  const ClockReading now = platform_.Now();
  char name[64];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  // The writer adds the zone's "Z" itself.
  const std::string when = point.time.empty() ? "" : point.time.substr(0, point.time.size() - 1);
  Writer().CreatePlaceMark(point.latitude, point.longitude, *point.altitude, name, "", when);
  unflushed_ = true;
}

void TrackRecorder::EndOfBlock() {
  if (!unflushed_) return;
  unflushed_ = false;
  Writer().Flush();
  ReportFailure();
}

namespace {

// A KML recording made from a file name: the control's own recorder, on a file of the user's.
class KmlTrack final : public EpochSink, public Output {
 public:
  KmlTrack(Platform& platform, std::string file) : recorder_(platform), file_(std::move(file)) {}
  TrackRecorder& Recorder() { return recorder_; }
  void TakeGga(const DecodedGga& gga) override { recorder_.TakeGga(gga); }
  void EndOfBlock() override { recorder_.EndOfBlock(); }
  std::string State() const override {
    return file_ + ": " + std::to_string(static_cast<long>(recorder_.RecordedPoints())) + " points";
  }
  std::vector<std::string> Close() override {
    recorder_.Stop();
    return {};
  }

 private:
  TrackRecorder recorder_;
  std::string file_;
};

}  // namespace

void RegisterKmlSinks(SinkFactory& factory) {
  factory.Register(".kml", "TRACK.kml[?name=NAME] (a placemark per fix, a path at the end)",
                   [](const SinkText& text, const SinkContext& context) {
                     text.OnlyOptions({"name"});
                     auto track = std::make_shared<KmlTrack>(context.platform, text.rest);
                     std::string failure;
                     track->Recorder().OnFailure([&failure](std::string why) { failure = why; });
                     track->Recorder().Start(text.rest, text.Option("name"));
                     if (!failure.empty()) throw std::runtime_error(failure);
                     track->Recorder().OnFailure(context.failed);
                     return MadeOf(track);
                   });
}

}  // namespace quorvane
