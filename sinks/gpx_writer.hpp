#pragma once
// GPX 1.1: one trk named by the description, a trkseg for each stretch without a loss of fix,
// each trkpt with ele, time, fix, sat and hdop as far as they are known (in the order the
// schema gives them).

#include "sinks/track_writer.hpp"

namespace quorvane {

class GpxWriter final : public TextTrackWriter {
 public:
  void Point(const TrackFix& fix) override;

 private:
  void Begin(const std::string& name) override;
  void End() override;
};

}  // namespace quorvane
