#include "tracks/gpx_writer.hpp"

#include "base/text_rules.hpp"

namespace quorvane {

void GpxWriter::Begin(const std::string& name) {
  file_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"quorvane-gps\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
           "  <trk>\n"
           "    <name>"
        << XmlEscaped(name) << "</name>\n";
}

void GpxWriter::Point(const TrackFix& fix) {
  switch (NextPoint()) {
    case Place::kAfterGap:
      file_ << "    </trkseg>\n";
      [[fallthrough]];
    case Place::kFirst:
      file_ << "    <trkseg>\n";
      break;
    case Place::kWithin:
      break;
  }
  file_ << "      <trkpt lat=\"" << NumberToText(fix.latitude) << "\" lon=\""
        << NumberToText(fix.longitude) << "\">";
  if (fix.altitude) file_ << "<ele>" << NumberToText(*fix.altitude) << "</ele>";
  if (!fix.time.empty()) file_ << "<time>" << fix.time << "</time>";
  if (!fix.fix.empty()) file_ << "<fix>" << fix.fix << "</fix>";
  if (fix.satellites) file_ << "<sat>" << *fix.satellites << "</sat>";
  if (fix.hdop) file_ << "<hdop>" << NumberToText(*fix.hdop) << "</hdop>";
  file_ << "</trkpt>\n";
}

void GpxWriter::End() {
  if (HasPoints()) file_ << "    </trkseg>\n";
  file_ << "  </trk>\n</gpx>\n";
}

}  // namespace quorvane
