#include "sinks/nmea_server.hpp"

namespace quorvane {
namespace {

// A TAG block's source field takes no field or block separators.
char SourceCharacter(char c) {
  const bool separator = c == '\\' || c == '*' || c == ',' || c == '$' || c == '!';
  return separator || static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '_' : c;
}

}  // namespace

std::string TagBlockOf(const std::string& stream) {
  std::string fields = "s:";
  for (const char c : stream) fields += SourceCharacter(c);
  unsigned char sum = 0;
  for (const char c : fields) sum ^= static_cast<unsigned char>(c);
  static constexpr char kHex[] = "0123456789ABCDEF";
  return '\\' + fields + '*' + kHex[sum >> 4] + kHex[sum & 0xf] + '\\';
}

void NmeaServer::TakeSentence(std::string_view sentence, const std::string& stream) {
  if (clients_.Size() == 0 || stream.empty()) return;
  // A message's sentences are all of one stream: its TAG block is made once.
  if (tag_block_.empty() || stream != tagged_stream_) {
    tagged_stream_ = stream;
    tag_block_ = TagBlockOf(stream);
  }
  std::string line = tag_block_;
  line.append(sentence).push_back('\n');
  if (fleet_text_.size() + line.size() > kMostFleetTextPerBlock) {
    ++dropped_sentences_;
    return;
  }
  fleet_text_ += line;
}

void NmeaServer::TakeBlock(std::string_view block, const BlockOrigin& origin) {
  if (origin.stream.empty()) {
    Send(block);
    return;
  }
  if (!fleet_text_.empty()) Send(fleet_text_);
  fleet_text_.clear();
}

void RegisterNmeaServerSinks(SinkFactory& factory) {
  factory.Register("tcp", "tcp://[HOST]:PORT (the text served, 10110 is NMEA's port)",
                   [](const SinkText& text, const SinkContext& context) {
                     text.OnlyOptions({"fd"});
                     if (text.rest.find(':') == std::string::npos && text.Option("fd").empty()) {
                       text.Refuse("it needs a port");
                     }
                     return MadeOf(Serve<NmeaServer>(text, context, ServedListening(text, 0)));
                   });
}

}  // namespace quorvane
