#pragma once
// Track files, written as fixes arrive: KML, GPX 1.1, GeoJSON (RFC 7946) and CSV. Each is handed
// to the disk at every Flush (once per received block); the closing part is written by Finish,
// so a file cut short by a crash holds every point up to its last flush but lacks its end.

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/replaced_file.hpp"

namespace quorvane {

// One fix as a track file takes it.
struct TrackFix {
  double latitude = 0;
  double longitude = 0;
  std::optional<double> altitude{};
  std::string time{};  // ISO 8601 UTC, "2026-12-08T12:00:00.000Z"; empty before a date is known
  std::optional<int> satellites{};
  std::optional<double> hdop{};
  std::optional<double> vdop{};
  std::optional<double> pdop{};
  std::optional<double> speed{};   // m/s
  std::optional<double> course{};  // degrees true
  std::string fix{};               // "2d", "3d" or "dgps"
};

// A track file, written point by point: KML, GPX, GeoJSON, CSV.
class TrackWriter {
 public:
  virtual ~TrackWriter() = default;

  // Opens the file (only a regular file at the path is replaced) and writes the beginning; the
  // track is named `name`. The failure, or an empty text.
  virtual std::string Open(const std::string& path, const std::string& name) = 0;
  virtual void Point(const TrackFix& fix) = 0;
  // The fix was lost: the next point begins a new segment (where the format has them).
  virtual void Gap() {}
  // Hands what is written to the file; the first failure since Open, or an empty text.
  virtual std::string Flush() = 0;
  // Writes the end and closes the file; the first failure, or an empty text.
  virtual std::string Finish() = 0;
};

// A track file written as text through a stream of its own: a beginning, the points, an end.
class TextTrackWriter : public TrackWriter {
 public:
  std::string Open(const std::string& path, const std::string& name) override;
  void Gap() override { gap_ = true; }
  std::string Flush() override;
  std::string Finish() override;

 protected:
  virtual void Begin(const std::string& name) = 0;
  virtual void End() = 0;
  // Where the next point stands: first of the track, first after a gap, or within a segment.
  enum class Place { kFirst, kAfterGap, kWithin };
  Place NextPoint();
  bool HasPoints() const { return points_ > 0; }

  std::ostream& out() { return file_.Stream(); }

  std::string path_;

 private:
  ReplacedFile file_;
  bool gap_ = false;  // the fix was lost since the last point
  size_t points_ = 0;
};

}  // namespace quorvane
