#include "control/properties_json.hpp"

#include <cmath>
#include <cstdio>
#include <tuple>

#include "base/text_rules.hpp"

namespace quorvane {

std::string PropertiesJson(const GPS& gps) {
  // A value that reads as a finite number goes out as a JSON number, "" as null; texts (times,
  // units, the last GGA) and anything else a receiver sent stay strings.
  enum Kind { kText, kNumber };
  const std::tuple<const char*, Kind, std::string> properties[] = {
      {"Latitude", kNumber, gps.Latitude()},
      {"Longitude", kNumber, gps.Longitude()},
      {"RAW_Latitude", kNumber, gps.RAW_Latitude()},
      {"RAW_Longitude", kNumber, gps.RAW_Longitude()},
      {"Altitude", kNumber, gps.Altitude()},
      {"AltitudeUnit", kText, gps.AltitudeUnit()},
      {"Altitude_Feet", kNumber, gps.Altitude_Feet()},
      {"Satellites", kNumber, gps.Satellites()},
      {"GPS_Time", kText, gps.GPS_Time()},
      {"LocalTime", kText, gps.LocalTime()},
      {"GPSQuality", kNumber, gps.GPSQuality()},
      {"Speed", kNumber, gps.Speed()},
      {"SpeedMph", kNumber, gps.SpeedMph()},
      {"SpeedKnots", kNumber, gps.SpeedKnots()},
      {"HDOP", kNumber, gps.HDOP()},
      {"VDOP", kNumber, gps.VDOP()},
      {"Elevation", kNumber, gps.Elevation()},
      {"Azimute", kNumber, gps.Azimute()},
      {"SNR", kNumber, gps.SNR()},
      {"Odometer", kNumber, gps.Odometer()},
      {"LastGPGGA", kText, gps.LastGPGGA()},
  };
  std::string json = "{";
  for (const auto& [name, kind, value] : properties) {
    json += JsonQuoted(name) + ":";
    const auto number = kind == kNumber ? ReadStrict(value) : std::nullopt;
    if (value.empty()) {
      json += "null";
    } else if (number && std::isfinite(*number)) {
      AppendNumberText(*number, json);
    } else {
      json += JsonQuoted(value);
    }
    json += ',';
  }
  // A fleet's fixes say whose they are; a single receiver's object is the same as before.
  if (!gps.StreamName().empty()) json += "\"Stream\":" + JsonQuoted(gps.StreamName()) + ",";
  char points[48];
  std::snprintf(points, sizeof points, "\"RecordedPoints\":%.0f,\"isRecording\":%s}",
                gps.RecordedPoints(), gps.isRecording() ? "true" : "false");
  return json + points;
}

}  // namespace quorvane
