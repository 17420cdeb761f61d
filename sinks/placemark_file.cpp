#include "sinks/placemark_file.hpp"

#include <initializer_list>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

void AppendLine(std::string& document, std::initializer_list<std::string_view> pieces) {
  for (const std::string_view piece : pieces) document.append(piece);
  document.append("\r\n");
}

}  // namespace

std::string GoogleEarthPlaceMarkDocument(std::string_view latitude_text,
                                         std::string_view longitude_text,
                                         std::string_view xDescription, std::string_view xName) {
  const std::string latitude = WithDecimalPoints(latitude_text);
  const std::string longitude = WithDecimalPoints(longitude_text);
  std::string document;
  AppendLine(document, {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"});
  AppendLine(document, {"<kml xmlns=\"http://earth.google.com/kml/2.0\">"});
  AppendLine(document, {"<Placemark>"});
  AppendLine(document, {"<description>", XmlEscaped(xDescription), "</description>"});
  AppendLine(document, {"<name>", XmlEscaped(xName), "</name>"});
  AppendLine(document, {"<LookAt>"});
  AppendLine(document, {"<longitude>", longitude, "</longitude>"});
  AppendLine(document, {"<latitude>", latitude, "</latitude>"});
  AppendLine(document, {"<range>100</range>"});
  AppendLine(document, {"<tilt>0</tilt>"});
  AppendLine(document, {"<heading>0</heading>"});
  AppendLine(document, {"</LookAt>"});
  AppendLine(document, {"<Point>"});
  AppendLine(document, {"<coordinates>", longitude, ",", latitude, ",0</coordinates>"});
  AppendLine(document, {"</Point>"});
  AppendLine(document, {"<visibility>0</visibility>"});
  AppendLine(document, {"</Placemark>"});
  AppendLine(document, {"</kml>"});
  return document;
}

}  // namespace quorvane
