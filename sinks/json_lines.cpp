#include "sinks/json_lines.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "sinks/sink_factory.hpp"

namespace quorvane {

void JsonLines::TakeEpoch(const Fix& fix, const std::string& stream) {
  lines_.clear();
  AppendTpvJson(fix, stream, lines_);
  lines_ += '\n';
  if (sky_changes_.Take(fix, stream)) {
    AppendSkyJson(fix, stream, lines_);
    lines_ += '\n';
  }
  out_.write(lines_.data(), static_cast<std::streamsize>(lines_.size()));
}

std::vector<std::string> JsonLines::Close() {
  out_.flush();
  if (!file_) return {};
  file_->close();
  if (file_->fail()) return {"The JSON lines could not all be written"};
  return {};
}

void RegisterJsonSinks(SinkFactory& factory) {
  factory.Register(
      "json", "json:- or json:FILE (gpsd's TPV and SKY, a line each)",
      [](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({});
        if (text.rest == "-")
          return MadeOf(std::make_shared<JsonLines>(std::cout, context.streams, context.io));
        auto file = std::make_unique<std::ofstream>(text.rest, std::ios::binary);
        if (!*file) {
          throw std::runtime_error("Cannot write " + text.rest + ": " + std::strerror(errno));
        }
        return MadeOf(std::make_shared<JsonLines>(std::move(file), context.streams, context.io));
      });
}

}  // namespace quorvane
