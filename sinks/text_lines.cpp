#include "sinks/text_lines.hpp"

#include <iostream>
#include <iterator>

#include "base/text_rules.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

std::string FixModeText(const Fix& fix) {
  static const char* const kStatus[] = {
      "", "", " differential", " RTK fixed", " RTK float", " estimated", "", "", " simulated"};
  const auto status = static_cast<size_t>(fix.status);
  return std::string(fix.mode == FixMode::k3D ? "3D" : "2D") +
         (status < std::size(kStatus) ? kStatus[status] : "");
}

void AppendEpochLine(const Fix& fix, std::string& line) {
  const size_t start = line.size();
  line += TimeOfDayText(fix.time);
  line += line.size() == start ? "--:--:-- UTC  " : " UTC  ";
  if (!fix.HasFix()) {
    line += "no fix";
    return;
  }
  AppendFixed(*fix.latitude, 6, line);
  line += ", ";
  AppendFixed(*fix.longitude, 6, line);
  line += "  ";
  line += FixModeText(fix);
  if (fix.speed) {
    line += "  ";
    AppendFixed(*fix.speed * 3.6, 1, line);
    line += " km/h";
  }
  if (fix.course) {
    line += "  ";
    AppendFixed(*fix.course, 1, line);
    line += " deg";
  }
  if (fix.altitude_msl) {
    line += "  alt ";
    AppendFixed(*fix.altitude_msl, 1, line);
    line += " m";
  }
  if (fix.satellites_used) line += "  sats " + std::to_string(*fix.satellites_used);
}

void TextLines::TakeEpoch(const Fix& fix, const std::string& stream) {
  // A vehicle's name is a peer's text: printable only. The rest is this line's own.
  line_.clear();
  if (!stream.empty()) line_ += Printable(stream) + "  ";
  AppendEpochLine(fix, line_);
  line_ += '\n';
  out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

std::vector<std::string> TextLines::Close() {
  out_.flush();
  return {};
}

void RegisterTextSinks(SinkFactory& factory) {
  factory.Register("text", "text:- (a plain line per epoch on standard output)",
                   [](const SinkText& text, const SinkContext&) {
                     text.OnlyOptions({});
                     if (text.rest != "-")
                       throw SinkUsageError("text: writes to -, standard output");
                     return MadeOf(std::make_shared<TextLines>(std::cout));
                   });
}

}  // namespace quorvane
