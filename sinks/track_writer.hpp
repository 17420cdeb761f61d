#pragma once
// Track files other than KML, written as fixes arrive: GPX 1.1, GeoJSON (RFC 7946) and CSV. Each is
// handed to the disk at every Flush (once per received block); the closing part is written by
// Finish, so a file cut short by a crash holds every point up to its last flush but lacks its
// end.

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

class TrackWriter {
 public:
  virtual ~TrackWriter() = default;

  // Opens the file (only a regular file at the path is replaced) and writes the beginning; the
  // track is named `name`. The failure, or an empty text.
  std::string Open(const std::string& path, const std::string& name);
  virtual void Point(const TrackFix& fix) = 0;
  // The fix was lost: the next point begins a new segment.
  void Gap() { gap_ = true; }
  // Hands what is written to the file; the first failure since Open, or an empty text.
  std::string Flush();
  // Writes the end and closes the file; the first failure, or an empty text.
  std::string Finish();

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

// The writer for a file name's extension (".gpx", ".geojson", ".csv", either case), or null.
std::unique_ptr<TrackWriter> TrackWriterFor(const std::string& path);

}  // namespace quorvane
