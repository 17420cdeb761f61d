#include "apps/gps_monitor/display.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

#include "base/text_rules.hpp"
#include "control/properties_json.hpp"
#include "sinks/text_lines.hpp"

namespace quorvane::monitor {
namespace {

std::string ProgressBar(double share, int width) {
  const int filled = static_cast<int>(share * width + 0.5);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '.') + "]";
}

const char* ConstellationName(Constellation constellation) {
  static const char* const kNames[] = {"GPS",  "SBAS", "Galileo", "BeiDou",
                                       "IMES", "QZSS", "GLONASS", "NavIC"};
  return kNames[static_cast<size_t>(constellation)];
}

std::string OrDash(int value) {
  return value < 0 ? "-" : std::to_string(value);
}

size_t TerminalRows() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return 24;
  return size.ws_row;
}

std::vector<std::string> SatelliteTable(const Fix& fix, size_t rows) {
  std::vector<std::string> lines;
  if (fix.in_view.empty() || rows < 2) return lines;
  lines.emplace_back("    PRN  system    elev  azim   SNR  used");
  for (const SatelliteInView& satellite : fix.in_view) {
    if (lines.size() + 1 == rows && fix.in_view.size() + 1 > rows) {
      lines.push_back("    ... " + std::to_string(fix.in_view.size() + 2 - rows) + " more");
      break;
    }
    char row[96];
    const auto number = [](const std::optional<double>& value) {
      return value ? static_cast<int>(std::lround(*value)) : -1;
    };
    std::snprintf(row, sizeof row, "    %3d  %-8s  %4s  %4s  %4s  %s", satellite.id.prn,
                  ConstellationName(satellite.id.constellation),
                  OrDash(number(satellite.elevation)).c_str(),
                  OrDash(number(satellite.azimuth)).c_str(), OrDash(number(satellite.snr)).c_str(),
                  satellite.used ? "yes" : "");
    lines.emplace_back(row);
  }
  return lines;
}

std::string Clock(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

}  // namespace

void Display::Properties(const GPS& gps) {
  if (mode_ == Mode::kProperties) out_ << PropertiesJson(gps) << '\n';
}

std::string VehicleLine(const std::string& name, const Fix& last) {
  char seconds[32] = "";
  if (last.received) {
    const double age =
        std::chrono::duration<double>(std::chrono::system_clock::now() - *last.received).count();
    std::snprintf(seconds, sizeof seconds, "  %.0f s ago", age);
  }
  if (!last.HasFix()) return name + "  no fix" + seconds;
  char speed[32] = "";
  if (last.speed) std::snprintf(speed, sizeof speed, "  %.1f km/h", *last.speed * 3.6);
  return name + "  " + NumberToText(*last.latitude) + ", " + NumberToText(*last.longitude) + speed +
         seconds;
}

void Display::Epoch(const Fix& fix, const std::string& stream) {
  if (fix.HasFix()) last_fix_time_ = fix.time;
  // The plain and JSON lines are outputs of their own, added to the control.
  if (mode_ == Mode::kDashboard) {
    last_ = fix;
    last_stream_ = stream;
  }
}

std::vector<std::string> Display::FixLines() const {
  const Fix& fix = last_;
  std::vector<std::string> lines;
  if (!last_stream_.empty()) lines.push_back("  Vehicle       " + last_stream_);
  const std::string date = fix.date ? IsoTimeText(fix.date, UtcTime{}).substr(0, 10) + " "
                                    : std::string("date unknown, ");
  if (fix.HasFix()) {
    lines.push_back("  Position      " + FixedText(*fix.latitude, 7) + ", " +
                    FixedText(*fix.longitude, 7) + "   " + FixModeText(fix));
  } else if (last_fix_time_ && fix.time) {
    // Measured on the receiver's clock, so a replay says how long its receiver went without.
    int64_t lost = (fix.time->microseconds - last_fix_time_->microseconds) / 1'000'000;
    if (lost < 0) lost += 24 * 3600;
    lines.push_back("  Position      no fix (since " + TimeOfDayText(last_fix_time_) + ", " +
                    std::to_string(lost) + " s)");
  } else {
    lines.push_back(std::string("  Position      no fix") + (fix.time ? "" : " yet"));
  }
  if (fix.time) lines.push_back("  Time          " + date + TimeOfDayText(fix.time) + " UTC");
  std::string motion;
  if (fix.speed) motion += FixedText(*fix.speed * 3.6, 1) + " km/h   ";
  if (fix.course) motion += "course " + FixedText(*fix.course, 1) + " deg   ";
  if (fix.altitude_msl) motion += "altitude " + FixedText(*fix.altitude_msl, 1) + " m";
  if (!motion.empty()) lines.push_back("  Moving        " + motion);
  std::string precision;
  if (fix.satellites_used) precision += "used " + std::to_string(*fix.satellites_used);
  if (!fix.in_view.empty()) precision += " of " + std::to_string(fix.in_view.size()) + " in view";
  if (!precision.empty()) precision += "   ";
  if (fix.hdop) precision += "HDOP " + FixedText(*fix.hdop, 1) + "   ";
  if (fix.vdop) precision += "VDOP " + FixedText(*fix.vdop, 1) + "   ";
  if (fix.pdop) precision += "PDOP " + FixedText(*fix.pdop, 1) + "   ";
  if (fix.latitude_error && fix.longitude_error) {
    precision +=
        "error " + FixedText(std::hypot(*fix.latitude_error, *fix.longitude_error), 1) + " m";
  }
  if (!precision.empty()) lines.push_back("  Satellites    " + precision);
  return lines;
}

void Display::Frame(const GPS& gps, const Status& status) {
  if (mode_ != Mode::kDashboard) return;
  std::vector<std::string> lines{"gps-monitor " + gps.Version() + "   " + status.source, ""};
  for (auto& line : FixLines()) lines.push_back(std::move(line));
  lines.insert(lines.end(),
               {
                   "  Odometer      " + gps.Odometer() + " m",
                   "  Recording     " +
                       (status.recording_file.empty() ? std::string("off") : status.recording_file),
               });
  if (!status.hearing.empty()) lines.push_back("  Hearing       " + status.hearing);
  for (const auto& output : status.outputs) lines.push_back("  Output        " + output);
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
  // The satellites take the rows the terminal has left.
  for (auto& line : SatelliteTable(
           last_, TerminalRows() > lines.size() + 1 ? TerminalRows() - lines.size() - 1 : 0)) {
    lines.push_back(std::move(line));
  }
  // Home, then every line cleared to its end: the frame overwrites the last one in place.
  out_ << (drawn_ ? "\x1b[H" : "\x1b[H\x1b[2J");
  for (const auto& line : lines) out_ << Printable(line) << "\x1b[K\n";
  out_ << "\x1b[J" << std::flush;
  drawn_ = true;
}

void Display::Flush() {
  // The plain and JSON lines are flushed by their outputs, a fleet's burst of blocks at once.
  if (mode_ == Mode::kProperties) out_.flush();
}

void Display::Close() {
  out_ << std::flush;
}

}  // namespace quorvane::monitor
