#pragma once
// CSV (RFC 4180): a header line, then one line per point: time (ISO 8601 UTC, empty before a
// date is known), latitude and longitude (decimal degrees), altitude (metres above mean sea
// level), speed (m/s) and course (degrees true), each empty when the receiver did not say it.
// A loss of fix leaves no mark: the next point's time shows the gap.

#include "sinks/track_writer.hpp"

namespace quorvane {

class CsvWriter final : public TextTrackWriter {
 public:
  void Point(const TrackFix& fix) override;

 private:
  void Begin(const std::string& name) override;
  void End() override {}
};

}  // namespace quorvane
