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

std::string EpochLine(const Fix& fix) {
  std::string line = TimeOfDayText(fix.time);
  line += line.empty() ? "--:--:-- UTC  " : " UTC  ";
  if (!fix.HasFix()) return line + "no fix";
  line +=
      FixedText(*fix.latitude, 6) + ", " + FixedText(*fix.longitude, 6) + "  " + FixModeText(fix);
  if (fix.speed) line += "  " + FixedText(*fix.speed * 3.6, 1) + " km/h";
  if (fix.course) line += "  " + FixedText(*fix.course, 1) + " deg";
  if (fix.altitude_msl) line += "  alt " + FixedText(*fix.altitude_msl, 1) + " m";
  if (fix.satellites_used) line += "  sats " + std::to_string(*fix.satellites_used);
  return line;
}

void TextLines::TakeEpoch(const Fix& fix, const std::string& stream) {
  const std::string line = Printable((stream.empty() ? "" : stream + "  ") + EpochLine(fix)) + '\n';
  out_.write(line.data(), static_cast<std::streamsize>(line.size()));
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
