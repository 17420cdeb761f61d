#include "sinks/track_files.hpp"

#include "sinks/sink_factory.hpp"

#include "geo/great_circle.hpp"

namespace quorvane {
namespace {

std::string FirstFailure(std::string first, std::string next) {
  return first.empty() ? next : first;
}

// GPX's kinds of fix.
std::string FixKind(const Fix& fix) {
  switch (fix.status) {
    case FixStatus::kDifferential:
    case FixStatus::kRtkFixed:
    case FixStatus::kRtkFloat:
      return "dgps";
    default:
      return fix.mode == FixMode::k3D ? "3d" : "2d";
  }
}

}  // namespace

TrackFix TrackFixOf(const Fix& fix) {
  return {.latitude = fix.latitude.value_or(0),
          .longitude = fix.longitude.value_or(0),
          .altitude = fix.altitude_msl,
          .time = IsoTimeText(fix),
          .satellites = fix.satellites_used,
          .hdop = fix.hdop,
          .vdop = fix.vdop,
          .pdop = fix.pdop,
          .speed = fix.speed,
          .course = fix.course,
          .fix = FixKind(fix)};
}

std::string TrackFiles::Open(std::unique_ptr<TrackWriter> writer, const std::string& path,
                             const std::string& name) {
  if (std::string failure = writer->Open(path, name); !failure.empty()) return failure;
  writers_.push_back(std::move(writer));
  return {};
}

void TrackFiles::Take(const Fix& fix) {
  if (writers_.empty()) return;
  if (!fix.HasFix()) {
    for (auto& writer : writers_) writer->Gap();
    return;
  }
  if (!OnTheGlobe(*fix.latitude, *fix.longitude)) return;
  const TrackFix track_fix = TrackFixOf(fix);
  // The same epoch again (a broker delivering a message twice after a failover) is one point.
  if (!track_fix.time.empty() && track_fix.time == last_time_) return;
  last_time_ = track_fix.time;
  for (auto& writer : writers_) writer->Point(track_fix);
}

void TrackFiles::EndOfBlock() {
  if (std::string failure = Flush(); !failure.empty() && on_failure_) on_failure_(failure);
}

std::string TrackFiles::Flush() {
  std::string failure;
  for (auto& writer : writers_) failure = FirstFailure(failure, writer->Flush());
  return Unsaid(std::move(failure));
}

std::string TrackFiles::Unsaid(std::string failure) {
  // A file that failed fails the same way at every flush after, and at its end.
  if (failure.empty() || failure == said_) return {};
  said_ = failure;
  return failure;
}

std::string TrackFiles::Finish() {
  std::string failure;
  for (auto& writer : writers_) failure = FirstFailure(failure, writer->Finish());
  writers_.clear();
  return Unsaid(std::move(failure));
}

std::vector<std::string> TrackFiles::Close() {
  std::string failure = Finish();
  if (failure.empty()) return {};
  return {failure};
}

void RefuseAFleet(const SinkText& text, const SinkContext& context) {
  if (context.fleet.empty()) return;
  text.Refuse("a fleet's vehicles would be spliced into one track: FOLDER/*" + text.scheme +
              " records each to a file of its own (--record-dir)");
}

void RegisterTrackFormat(SinkFactory& factory, const std::string& extension,
                         std::function<std::unique_ptr<TrackWriter>()> make_writer) {
  factory.Register(
      extension, "TRACK" + extension + "[?name=NAME] (a point per fix)",
      [make_writer](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({"name"});
        RefuseAFleet(text, context);
        auto track = std::make_shared<TrackFiles>();
        if (std::string failure = track->Open(make_writer(), text.rest, text.Option("name"));
            !failure.empty()) {
          throw std::runtime_error(failure);
        }
        track->OnFailure(context.failed);
        return MadeOf(track);
      });
}

}  // namespace quorvane
