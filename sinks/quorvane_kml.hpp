#pragma once
// The KML writer: one KML 2.2 document written to one file line by line, in the order its
// operations are called. Every line ends in CR LF; fixed texts carry their own leading blanks;
// caller texts are written verbatim (callers pass text that is valid at its place), except the
// document's name, which a host gives and which is escaped for XML; numbers use
// the number-to-text rule with "."; a point (latitude, longitude, Altitude) is written
// "longitude,latitude,Altitude", as KML wants.
//
// Placemarks stay in the writer's buffer until Flush, so that a recording writes once per
// received block; every other element is flushed as soon as it is written. Without an open
// document the element writers write nothing, while the path buffer keeps working. A document
// that cannot be opened, or a write that fails, is kept as the writer's failure (TakeFailure);
// after a failed write the file is closed and nothing more is written to it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "../base/replaced_file.hpp"
#include "../platform/platform.hpp"
#include "path_buffer.hpp"

namespace quorvane {

class QuorvaneKML {
 public:
  explicit QuorvaneKML(Platform& platform) : platform_(platform) {}
  // A document still open is finished (footer written) so the file stays readable.
  ~QuorvaneKML();
  QuorvaneKML(const QuorvaneKML&) = delete;
  QuorvaneKML& operator=(const QuorvaneKML&) = delete;

  // Replaces `Filename` (a regular file, or none) and writes the header. The document's name is
  // `Description`, escaped for XML. A document still open is finished first.
  void CreateKML(const std::string& Filename, const std::string& Description,
                 const std::string& ExtendedData = "", bool IncludeGeneratedBy = false);
  // Empties the path buffer (and removes its spool file).
  void ClearPath() { path_.Clear(); }
  // Keeps the path buffer's points beyond the first piece in `spool` instead of in memory.
  void SpoolPathTo(const std::filesystem::path& spool) { path_.SpoolTo(spool); }
  // A style and a path placemark through the points of the path buffer.
  void CreatePathFromPlaceMarks(int16_t Size, const std::string& pColor);
  // A style and a named path placemark through `PathData` (joined CreatePathString results).
  void CreatePathFromString(int16_t Size, const std::string& pColor, const std::string& PathData,
                            const std::string& PathName, bool Line3D = false);
  void CreateCameraOverlay(const std::string& Filename, double latitude, double longitude,
                           double Altitude, const std::string& pName,
                           const std::string& visibility = "0",
                           const std::string& shape = "rectangle");
  // An image draped over the box from latitude to latitude + 0.0001 and longitude to longitude +
  // 0.0001.
  void CreateGroundOverlay(const std::string& Filename, double latitude, double longitude,
                           double Altitude, const std::string& pName,
                           const std::string& HTMLDescription,
                           const std::string& shape = "rectangle", const std::string& Heading = "");
  // A photo overlay with a time-based id; "%streetview_id" in HTMLDescription becomes a
  // reference to it. Adds its point to the path buffer.
  void CreateStreetView(const std::string& Filename, double latitude, double longitude,
                        double Altitude, const std::string& pName,
                        const std::string& HTMLDescription, const std::string& shape = "rectangle",
                        const std::string& Heading = "");
  // A point placemark; adds its point to the path buffer.
  void CreatePlaceMark(double latitude, double longitude, double Altitude, const std::string& pName,
                       const std::string& pDescription, const std::string& TimeStamp = "",
                       const std::string& ExtendedData = "");
  void CreatePathPoint(double latitude, double longitude, double Altitude);
  std::string CreatePathString(double latitude, double longitude, double Altitude) const;
  // Writes the footer and closes the file.
  void CloseKML();
  // Hands what is written so far to the file.
  void Flush();
  // The first failure since it was last taken, with the file's name and the reason; empty when
  // all went well.
  std::string TakeFailure();

  std::string PathText() const { return path_.Text(); }

 private:
  void Line(std::string_view text);
  template <typename... Pieces>
  void Line(std::string_view first, const Pieces&... rest);
  void Finish();
  void WritePathStyle(const std::string& style_id, int16_t Size, const std::string& pColor);
  template <typename ForEachPiece>
  void WriteCoordinatesOf(size_t size, ForEachPiece for_each_piece);
  std::string TimeNumber();

  Platform& platform_;
  ReplacedFile file_;
  PathBuffer path_;
  std::string placemark_;  // the placemark being built, kept for its room
};

// "longitude,latitude,Altitude" by the number-to-text rule.
std::string CoordinateTriple(double latitude, double longitude, double Altitude);
// The same text, appended to `text`.
void AppendCoordinateTriple(double latitude, double longitude, double Altitude, std::string& text);

}  // namespace quorvane
