#pragma once
// The streams of a source that carries several senders (an MQTT topic filter that matches a
// fleet): each has pending text and a fix of its own, so that halves of two vehicles' sentences
// are never spliced, and one vehicle's speed never shows beside another's position. The table
// is bounded: past kMaxStreams the stream heard longest ago is forgotten to make room.

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "../nmea/epoch_builder.hpp"
#include "../nmea/nmea_decoder.hpp"
#include "line_assembler.hpp"

namespace quorvane {

class StreamTable {
 public:
  static constexpr size_t kMaxStreams = 16384;
  // A stream's unfinished sentence: a standard one is at most 82 characters.
  static constexpr size_t kPendingLimit = 1024;

  // Each stream's epochs go to `on_epoch` with the stream's name.
  using EpochHandler = std::function<void(const Fix&, const std::string& stream)>;

  struct Stream {
    Stream(std::string stream_name, std::function<ClockReading()> clock)
        : name(std::move(stream_name)), lines(kPendingLimit), decoder(std::move(clock)) {}
    std::string name;
    LineAssembler lines;
    NmeaDecoder decoder;
    EpochBuilder epochs;
  };

  StreamTable(std::function<ClockReading()> clock, EpochHandler on_epoch)
      : clock_(std::move(clock)), on_epoch_(std::move(on_epoch)) {}

  // The stream of that name, made (with the settings of `model`) when it is new; it becomes
  // the most recently heard. Call it before each block of a stream, never inside one.
  Stream& Find(std::string_view name, const NmeaDecoder& model);
  // Forgets every stream. A block being taken keeps its stream until the next Find: a host may
  // open another source inside an event of that block.
  void Clear();
  size_t Size() const { return index_.size(); }

  // Every stream's decoder, to change a setting of all.
  void ForEachDecoder(const std::function<void(NmeaDecoder&)>& change);
  // Every stream ended: the cycle each has under way is handed on.
  void FinishEpochs();
  // Sentences refused for their checksum, forgotten streams' included.
  double ChecksumErrors() const;
  // Malformed fields, forgotten streams' included.
  uint64_t MalformedFields() const;

 private:
  std::function<ClockReading()> clock_;
  EpochHandler on_epoch_;
  std::list<Stream> streams_;  // the most recently heard first
  std::list<Stream> retired_;  // cleared away, kept to the next Find
  // Keyed by views of the streams' own names.
  std::unordered_map<std::string_view, std::list<Stream>::iterator> index_;
  double forgotten_checksum_errors_ = 0;
  uint64_t forgotten_malformed_fields_ = 0;
};

}  // namespace quorvane
