#pragma once
// The track files of one receiver (GPX, GeoJSON, CSV), fed with its epochs: a point for every fix,
// a break in the track when the fix is lost, each file handed to the disk once per received block.

#include <memory>
#include <string>
#include <vector>

#include <functional>

#include "nmea/fix.hpp"
#include "receiver/sinks.hpp"
#include "sinks/output.hpp"
#include "sinks/track_writer.hpp"

namespace quorvane {

// What an epoch gives a track file's point.
TrackFix TrackFixOf(const Fix& fix);

class TrackFiles final : public EpochSink, public Output {
 public:
  // Opens `writer` on `path`, the track named `name`; the failure, or an empty text.
  std::string Open(std::unique_ptr<TrackWriter> writer, const std::string& path,
                   const std::string& name);
  // An epoch: its point, or a break in the track when it has no fix.
  void Take(const Fix& fix);
  void TakeEpoch(const Fix& fix, const std::string&) override { Take(fix); }
  // Hands what was written to the disk; the first failure, or an empty text.
  std::string Flush();
  // The received block is done: flushed, a failure told to the handler of OnFailure.
  void EndOfBlock() override;
  void OnFailure(std::function<void(const std::string&)> handler) {
    on_failure_ = std::move(handler);
  }
  // Writes the ends and closes the files; the first failure, or an empty text.
  std::string Finish();
  std::vector<std::string> Close() override;

 private:
  std::vector<std::unique_ptr<TrackWriter>> writers_;
  std::string last_time_;  // of the last point written
  std::function<void(const std::string&)> on_failure_;
  std::string said_;  // the last failure returned

  std::string Unsaid(std::string failure);
};

class SinkFactory;
struct SinkText;
struct SinkContext;

// Registers a file format fed with the epochs: TRACK.EXTENSION[?name=NAME], each file written
// by a writer `make_writer` makes.
void RegisterTrackFormat(SinkFactory& factory, const std::string& extension,
                         std::function<std::unique_ptr<TrackWriter>()> make_writer);
// A file of one track refuses a fleet, whose vehicles it would splice.
void RefuseAFleet(const SinkText& text, const SinkContext& context);

}  // namespace quorvane
