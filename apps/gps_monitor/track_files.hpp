#pragma once
// The tracks gps-monitor writes beside the control's own KML recording: GPX and GeoJSON files,
// fed with every GGA the control decodes and flushed once per received block.

#include <memory>
#include <string>
#include <vector>

#include "control/gps.hpp"
#include "tracks/track_writer.hpp"

namespace quorvane::monitor {

// What the fix holds for a track file: the position, the date of the last RMC with the GGA's
// time, satellites, HDOP and the kind of fix.
TrackFix TrackFixOf(const FixRecord& fix);

class TrackFiles {
 public:
  // Opens a writer for each path (by its extension); the first failure, or an empty text.
  std::string Open(const std::vector<std::string>& paths, const std::string& name);
  // A GGA was decoded: its point, or a break in the track when the fix is lost.
  void Take(const FixRecord& fix);
  // The received block is done; the first failure, or an empty text.
  std::string EndOfBlock();
  // Writes the ends and closes the files; the first failure, or an empty text.
  std::string Finish();

 private:
  std::vector<std::unique_ptr<TrackWriter>> writers_;
};

}  // namespace quorvane::monitor
