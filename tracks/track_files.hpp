#pragma once
// The GPX and GeoJSON tracks of one receiver, fed with its epochs: a point for every fix, a
// break in the track when the fix is lost, each file handed to the disk once per received block.

#include <memory>
#include <string>
#include <vector>

#include "nmea/fix.hpp"
#include "tracks/track_writer.hpp"

namespace quorvane {

// What an epoch gives a track file's point.
TrackFix TrackFixOf(const Fix& fix);

class TrackFiles {
 public:
  // Opens a writer for each path (by its extension: .gpx, .geojson; others are left out); the
  // first failure, or an empty text.
  std::string Open(const std::vector<std::string>& paths, const std::string& name);
  // An epoch: its point, or a break in the track when it has no fix.
  void Take(const Fix& fix);
  // The received block is done; the first failure, or an empty text.
  std::string EndOfBlock();
  // Writes the ends and closes the files; the first failure, or an empty text.
  std::string Finish();

 private:
  std::vector<std::unique_ptr<TrackWriter>> writers_;
  std::string last_time_;  // of the last point written
};

}  // namespace quorvane
