#include "sinks/text_lines.hpp"

#include <array>
#include <charconv>
#include <iostream>
#include <iterator>

#include "base/text_rules.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

namespace {

// "2D" or "3D", then " differential", " RTK fixed", ... when the status says more.
void AppendFixMode(const Fix& fix, std::string& text) {
  static constexpr std::string_view kStatus[] = {
      "", "", " differential", " RTK fixed", " RTK float", " estimated", "", "", " simulated"};
  const auto status = static_cast<size_t>(fix.status);
  text += fix.mode == FixMode::k3D ? "3D" : "2D";
  text += status < std::size(kStatus) ? kStatus[status] : "";
}

}  // namespace

std::string FixModeText(const Fix& fix) {
  std::string text;
  AppendFixMode(fix, text);
  return text;
}

void AppendEpochLine(const Fix& fix, std::string& line) {
  using namespace std::string_view_literals;
  if (fix.time) {
    const size_t at = line.size();
    line += "00:00:00 UTC  "sv;
    PutTimeOfDay(line, at, *fix.time);
  } else {
    line += "--:--:-- UTC  "sv;
  }
  if (!fix.HasFix()) {
    line += "no fix"sv;
    return;
  }
  AppendFixed(*fix.latitude, 6, line);
  line += ", "sv;
  AppendFixed(*fix.longitude, 6, line);
  line += "  "sv;
  AppendFixMode(fix, line);
  if (fix.speed) {
    line += "  "sv;
    AppendFixed(*fix.speed * 3.6, 1, line);
    line += " km/h"sv;
  }
  if (fix.course) {
    line += "  "sv;
    AppendFixed(*fix.course, 1, line);
    line += " deg"sv;
  }
  if (fix.altitude_msl) {
    line += "  alt "sv;
    AppendFixed(*fix.altitude_msl, 1, line);
    line += " m"sv;
  }
  if (fix.satellites_used) {
    std::array<char, 16> count{};
    line += "  sats "sv;
    line.append(count.data(), std::to_chars(count.begin(), count.end(), *fix.satellites_used).ptr);
  }
}

void TextLines::TakeEpoch(const Fix& fix, const std::string& stream) {
  // A vehicle's name is a peer's text: printable only. The rest is this line's own.
  line_.clear();
  if (!stream.empty()) {
    line_ += Printable(stream);
    line_ += "  ";
  }
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
                   [](const SinkText& text, const SinkContext& context) {
                     text.OnlyOptions({});
                     if (text.rest != "-")
                       throw SinkUsageError("text: writes to -, standard output");
                     return MadeOf(std::make_shared<TextLines>(std::cout, context.io));
                   });
}

}  // namespace quorvane
