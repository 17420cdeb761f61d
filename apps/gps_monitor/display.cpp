#include "apps/gps_monitor/display.hpp"

#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

#include "base/text_rules.hpp"

namespace quorvane::monitor {
namespace {

std::string ProgressBar(double share, int width) {
  const int filled = static_cast<int>(share * width + 0.5);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string Clock(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

}  // namespace

std::string Printable(std::string text) {
  for (char& c : text) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return text;
}

std::string FixJson(const GPS& gps) {
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

void Display::Fix(const GPS& gps) {
  if (mode_ == Mode::kJson) {
    out_ << FixJson(gps) << '\n';
  } else if (mode_ == Mode::kPlain) {
    // One piece of text, one write: a fast replay prints a line for each of its fixes.
    const std::string where = gps.Fix().position_reported
                                  ? gps.Latitude() + ", " + gps.Longitude() + "  " + gps.Speed() +
                                        " km/h  alt " + gps.Altitude() + ' ' + gps.AltitudeUnit() +
                                        "  quality " + gps.GPSQuality()
                                  : std::string("no fix");
    const std::string line = Printable(gps.GPS_Time() + " UTC  " + where + "  sats " +
                                       gps.Satellites() + "  odometer " + gps.Odometer() + " m") +
                             '\n';
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
}

void Display::Frame(const GPS& gps, const Status& status) {
  if (mode_ != Mode::kDashboard) return;
  std::vector<std::string> lines{
      "gps-monitor " + gps.Version() + "   " + status.source,
      "",
      "  Position      " + gps.Latitude() + ", " + gps.Longitude(),
      "  Time          " + gps.GPS_Time() + " UTC   " + gps.LocalTime() + " local",
      "  Speed         " + gps.Speed() + " km/h   " + gps.SpeedMph() + " mph   " +
          gps.SpeedKnots() + " kn",
      "  Altitude      " + gps.Altitude() + " " + gps.AltitudeUnit() + "   " + gps.Altitude_Feet() +
          " ft",
      "  Fix quality   " + gps.GPSQuality() + "   satellites " + gps.Satellites() + "   HDOP " +
          gps.HDOP() + "   VDOP " + gps.VDOP(),
      "  Satellite     elevation " + gps.Elevation() + "   azimuth " + gps.Azimute() + "   SNR " +
          gps.SNR(),
      "  Odometer      " + gps.Odometer() + " m",
      "  Recording     " +
          (status.recording_file.empty()
               ? std::string("off")
               : status.recording_file +
                     (gps.isRecording()
                          ? "   " + std::to_string(static_cast<long>(gps.RecordedPoints())) +
                                " points"
                          : std::string())),
  };
  if (!status.hearing.empty()) lines.push_back("  Hearing       " + status.hearing);
  if (!status.serving.empty()) lines.push_back("  Serving NMEA  " + status.serving);
  if (!status.publishing.empty()) lines.push_back("  Publishing    " + status.publishing);
  if (status.vehicles > 0) {
    lines.push_back("  Vehicles      " + std::to_string(status.vehicles));
    for (const auto& vehicle : status.vehicle_lines) lines.push_back("    " + vehicle);
  }
  char rate[64];
  std::snprintf(rate, sizeof rate, "  Sentences     %.0f per second", status.sentences_per_second);
  lines.emplace_back(rate);
  if (status.replay_share) {
    char share[16];
    std::snprintf(share, sizeof share, " %3.0f%%", *status.replay_share * 100);
    lines.push_back("  Replay        " + ProgressBar(*status.replay_share, 30) + share +
                    (status.seconds_left ? "   " + Clock(*status.seconds_left) + " left" : ""));
  }
  // Home, then every line cleared to its end: the frame overwrites the last one in place.
  out_ << (drawn_ ? "\x1b[H" : "\x1b[H\x1b[2J");
  for (const auto& line : lines) out_ << Printable(line) << "\x1b[K\n";
  out_ << "\x1b[J" << std::flush;
  drawn_ = true;
}

void Display::Flush() {
  out_.flush();
}

void Display::Close() {
  out_ << std::flush;
}

}  // namespace quorvane::monitor
