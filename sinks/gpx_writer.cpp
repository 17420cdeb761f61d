#include "sinks/gpx_writer.hpp"

#include "sinks/track_files.hpp"

#include "base/text_rules.hpp"

namespace quorvane {

void GpxWriter::Begin(const std::string& name) {
  out() << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"quorvane-gps\" "
           "xmlns=\"http://www.topografix.com/GPX/1/1\" "
           "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">\n"
           "  <trk>\n"
           "    <name>"
        << XmlEscaped(name) << "</name>\n";
}

void GpxWriter::Point(const TrackFix& fix) {
  switch (NextPoint()) {
    case Place::kAfterGap:
      out() << "    </trkseg>\n";
      [[fallthrough]];
    case Place::kFirst:
      out() << "    <trkseg>\n";
      break;
    case Place::kWithin:
      break;
  }
  out() << "      <trkpt lat=\"" << NumberToText(fix.latitude) << "\" lon=\""
        << NumberToText(fix.longitude) << "\">";
  if (fix.altitude) out() << "<ele>" << NumberToText(*fix.altitude) << "</ele>";
  if (!fix.time.empty()) out() << "<time>" << fix.time << "</time>";
  if (!fix.fix.empty()) out() << "<fix>" << fix.fix << "</fix>";
  if (fix.satellites) out() << "<sat>" << *fix.satellites << "</sat>";
  if (fix.hdop) out() << "<hdop>" << NumberToText(*fix.hdop) << "</hdop>";
  if (fix.vdop) out() << "<vdop>" << NumberToText(*fix.vdop) << "</vdop>";
  if (fix.pdop) out() << "<pdop>" << NumberToText(*fix.pdop) << "</pdop>";
  // Speed and course in Garmin's track-point extension, which GPX readers widely take.
  if (fix.speed || fix.course) {
    out() << "<extensions><gpxtpx:TrackPointExtension>";
    if (fix.speed) out() << "<gpxtpx:speed>" << NumberToText(*fix.speed) << "</gpxtpx:speed>";
    if (fix.course) out() << "<gpxtpx:course>" << NumberToText(*fix.course) << "</gpxtpx:course>";
    out() << "</gpxtpx:TrackPointExtension></extensions>";
  }
  out() << "</trkpt>\n";
}

void GpxWriter::End() {
  if (HasPoints()) out() << "    </trkseg>\n";
  out() << "  </trk>\n</gpx>\n";
}

void RegisterGpxSinks(SinkFactory& factory) {
  RegisterTrackFormat(factory, ".gpx", [] { return std::make_unique<GpxWriter>(); });
}

}  // namespace quorvane
