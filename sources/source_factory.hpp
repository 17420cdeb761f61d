#pragma once
// Turns an address ("tcp://host:10110", "file:drive.nmea", ...) into the source it names. Each
// kind of source registers a maker for its scheme; a new kind is its own files and one line in
// RegisterKnownSources.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>

#include "platform/source_address.hpp"
#include "sources/block_source.hpp"
#include "sources/source_settings.hpp"

namespace quorvane {

class SerialSource;

// What a maker may use beyond the address.
struct SourceContext {
  asio::io_context& io;
  const SourceSettings& settings;
  // The control's serial port, which keeps its number and line settings between openings.
  const std::shared_ptr<SerialSource>& serial;
};

struct MadeSource {
  std::shared_ptr<BlockSource> source;
  // The address as it may be said (without a password).
  std::string name;
};

class SourceFactory {
 public:
  // `text` is the address as the user gave it. A maker that cannot make its source throws
  // std::runtime_error with the sentence to say.
  using Maker = std::function<MadeSource(const SourceAddress& address, const std::string& text,
                                         const SourceContext& context)>;

  void Register(SourceAddress::Scheme scheme, Maker maker);
  // The parsers of schemes the address rules below this layer do not read (mqtt://).
  void Register(const SchemeParsers& parsers) { schemes_.insert(parsers.begin(), parsers.end()); }
  // The address `text` names, or the sentence that says what is wrong with it.
  std::variant<SourceAddress, std::string> Parse(std::string_view text) const {
    return ParseSourceAddress(text, schemes_);
  }
  // The source `text` names; throws std::runtime_error saying what is wrong with the address,
  // or why its source cannot be made.
  MadeSource Make(const std::string& text, const SourceContext& context) const;

 private:
  static constexpr size_t kSchemes = static_cast<size_t>(SourceAddress::Scheme::kNats) + 1;
  std::array<Maker, kSchemes> makers_;
  SchemeParsers schemes_;
};

// Every kind of source this build knows.
const SourceFactory& KnownSources();

// The registrations of the kinds of source, each beside its source.
void RegisterSerialSources(SourceFactory& factory);
void RegisterUdpSources(SourceFactory& factory);
void RegisterTcpSources(SourceFactory& factory);
void RegisterLogSources(SourceFactory& factory);

}  // namespace quorvane
