#pragma once
// KML as a track file: a placemark for each point, named by the computer's clock and stamped
// with the point's time, and a green path through them at the end. The path's points wait in a
// spool file beside the document (FILE.points.tmp), so a track of any length takes the same
// memory; a spool left by a crash is taken over by the next track to the same file.

#include <memory>
#include <string>

#include "platform/platform.hpp"
#include "sinks/quorvane_kml.hpp"
#include "sinks/track_writer.hpp"

namespace quorvane {

class KmlWriter final : public TrackWriter {
 public:
  explicit KmlWriter(Platform& platform) : kml_(platform), platform_(platform) {}

  // The spool file of a track to `file`.
  static std::string SpoolPathOf(const std::string& file) { return file + ".points.tmp"; }

  std::string Open(const std::string& path, const std::string& name) override;
  // Drawn when it has an altitude and lies on the globe (all of it finite); others are left out:
  // a reader takes no placemark of a longitude of 1000°.
  void Point(const TrackFix& fix) override;
  std::string Flush() override;
  std::string Finish() override;

 private:
  QuorvaneKML kml_;
  Platform& platform_;
  std::string name_;  // a placemark's name and time, kept for their room
  std::string when_;
};

}  // namespace quorvane
