#pragma once
// Track recording: a placemark for every GGA position taken while recording, named by the
// computer's clock, and a green path through them when the recording stops. Points come as
// numbers; the file is handed to the disk once per received block, after all of the block's
// placemarks. The path's points wait in a spool file beside the recording, so a recording of
// any length takes the same memory; a spool left by a crash is reused by the next recording
// to the same file.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "receiver/sinks.hpp"
#include "sinks/kml_writer.hpp"

namespace quorvane {

// What one GGA sentence tells the recorder.
struct TrackPoint {
  double latitude = 0;   // decimal degrees
  double longitude = 0;  // decimal degrees
  std::optional<double> altitude;
  bool has_position = false;  // the receiver reported one
  std::string time;           // "2026-12-08T12:00:00.000Z", or empty before a date is known
};

// What a GGA left in the fix, as the recorder takes it.
TrackPoint TrackPointOf(const FixRecord& fix);

class TrackRecorder final : public EpochSink {
 public:
  explicit TrackRecorder(Platform& platform) : platform_(platform) {}
  // A recording still running is finished (path and footer), so the file stays readable.
  ~TrackRecorder() override;
  TrackRecorder(const TrackRecorder&) = delete;
  TrackRecorder& operator=(const TrackRecorder&) = delete;

  // Told once when a recording fails (its file cannot be opened, written or flushed), with the
  // file's name and the reason; the recording has stopped by then.
  void OnFailure(std::function<void(std::string)> handler) { on_failure_ = std::move(handler); }

  // Replaces `file` with a new document named `description`; a running recording is finished
  // first.
  void Start(const std::string& file, const std::string& description);
  // Writes the path and the footer.
  void Stop();
  // Counts the point while recording, and draws it when it has a position and an altitude, and
  // lies on the globe (a latitude within ±90°, a longitude within ±180°, all finite).
  void Take(const TrackPoint& point);
  // The received block that brought the last points is done.
  void EndOfBlock() override;
  // Fed with every GGA decoded; the epochs themselves are not drawn.
  void TakeGga(const DecodedGga& gga) override;
  void TakeEpoch(const Fix&, const std::string&) override {}

  double RecordedPoints() const { return recorded_points_; }
  bool isRecording() const { return recording_; }

 private:
  // A failure of the writer ends the recording and is told once.
  void Fail(const std::string& failure);

  Platform& platform_;
  std::unique_ptr<KmlWriter> writer_;  // while recording
  bool recording_ = false;
  bool unflushed_ = false;
  double recorded_points_ = 0;
  std::function<void(std::string)> on_failure_;
  TrackPoint point_;  // the GGA's, kept to reuse its time text's room
  TrackFix fix_;      // the writer's, likewise
};

}  // namespace quorvane
