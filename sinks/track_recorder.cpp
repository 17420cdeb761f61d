#include "sinks/track_recorder.hpp"

#include "sinks/output.hpp"
#include "sinks/sink_factory.hpp"
#include "sinks/track_files.hpp"

namespace quorvane {

TrackPoint TrackPointOf(const FixRecord& fix) {
  return {
      fix.latitude.value_or(0), fix.longitude.value_or(0), fix.altitude, fix.position_reported, {}};
}

void TrackRecorder::TakeGga(const DecodedGga& gga) {
  // One point kept, so that its time text reuses its room (a short text moved in keeps it).
  point_ = TrackPointOf(gga.fix);
  if (recording_) point_.time = gga.time;
  Take(point_);
}

TrackRecorder::~TrackRecorder() {
  if (recording_) Stop();
}

void TrackRecorder::Start(const std::string& file, const std::string& description) {
  if (recording_) Stop();
  recording_ = true;
  writer_ = std::make_unique<KmlWriter>(platform_);
  Fail(writer_->Open(file, description));
}

void TrackRecorder::Stop() {
  const bool was_recording = recording_;
  recording_ = false;
  unflushed_ = false;
  const std::string failure = writer_ ? writer_->Finish() : std::string();
  writer_.reset();
  if (was_recording && !failure.empty() && on_failure_) on_failure_(failure);
}

void TrackRecorder::Fail(const std::string& failure) {
  if (failure.empty()) return;
  // What the end could not write either is the same failure: it is said once.
  recording_ = false;
  unflushed_ = false;
  writer_->Finish();
  writer_.reset();
  if (on_failure_) on_failure_(failure);
}

void TrackRecorder::Take(const TrackPoint& point) {
  if (!recording_) return;
  ++recorded_points_;
  // A sentence without a position decodes as 0,0; drawing it would send the track across the
  // globe and back. It is counted, like one the writer cannot draw, but not drawn.
  if (!point.has_position) return;
  fix_.latitude = point.latitude;
  fix_.longitude = point.longitude;
  fix_.altitude = point.altitude;
  fix_.time.assign(point.time);
  writer_->Point(fix_);
  unflushed_ = true;
}

void TrackRecorder::EndOfBlock() {
  if (!unflushed_) return;
  unflushed_ = false;
  Fail(writer_->Flush());
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
                     RefuseAFleet(text, context);
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
