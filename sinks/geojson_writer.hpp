#pragma once
// GeoJSON (RFC 7946): a FeatureCollection of one Feature, the track as a LineString of
// [longitude, latitude, altitude] positions, or a MultiLineString once the fix was lost; the
// track's name and each position's time (null before a date is known) in its properties, the
// times nested as the positions are.
//
// Positions are written as they come. The geometry's type is written with room to spare, and
// turned into a MultiLineString in place at the first loss of fix; the times wait in a spool
// file beside the track (`FILE.times.tmp`) and are copied in at the end, so memory stays flat.

#include "sinks/path_buffer.hpp"
#include "sinks/track_writer.hpp"

namespace quorvane {

class GeoJsonWriter final : public TextTrackWriter {
 public:
  void Point(const TrackFix& fix) override;

 private:
  void Begin(const std::string& name) override;
  void End() override;
  void BecomeMulti();

  std::string name_;
  std::streampos type_at_ = 0;
  std::streampos coordinates_at_ = 0;
  bool multi_ = false;
  PathBuffer times_;
};

}  // namespace quorvane
