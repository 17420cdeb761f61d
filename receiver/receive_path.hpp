#pragma once
// The way of every received block: its receiver's sentences counted, decoded and gathered into
// epochs (each epoch handed to the epoch sinks), the epoch sinks told the block is done, the
// host shown the block (it may change it), then the block handed to the block sinks.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "../nmea/sentence_census.hpp"
#include "receiver_table.hpp"
#include "sinks.hpp"

namespace quorvane {

class ReceivePath {
 public:
  struct Events {
    // A sentence wrote into the fix the properties read: what it wrote.
    std::function<void(FixChanges)> fix_updated;
    std::function<void(const Fix&, const std::string& stream)> epoch;
    // The block, before the block sinks take it; the handler may change it.
    std::function<void(std::string& block)> block;
  };

  ReceivePath(std::function<ClockReading()> clock, Events events);

  void Add(std::shared_ptr<EpochSink> sink) { epoch_sinks_.push_back(std::move(sink)); }
  void Add(std::shared_ptr<BlockSink> sink) { block_sinks_.push_back(std::move(sink)); }
  void Add(std::shared_ptr<StreamSinkMaker> maker) { makers_.push_back(std::move(maker)); }
  void Remove(const EpochSink* sink);
  void Remove(const BlockSink* sink);

  // A block of `stream` (empty for a source of one receiver).
  void Take(std::string block, std::string_view stream, bool from_network);
  // A whole epoch of `stream` from a source that sends epochs rather than sentences: the stream's
  // outputs and the epoch sinks take it as one the stream's sentences had made.
  void TakeEpoch(const Fix& fix, std::string_view stream);
  // The cycles under way are the last ones: handed on now, and the streams' outputs ended.
  void Finish() {
    receivers_.FinishEpochs();
    receivers_.StopOutputs();
  }
  // A new source: the properties read the single receiver's fix again, its unfinished sentence
  // is dropped, and the streams of the last source are forgotten.
  void Restart();
  // A lost connection: the half sentence it left is never joined with the next one's text.
  void DropPendingText() { receivers_.Single().lines = LineAssembler(); }
  // Whether a block is being taken now (a handler may open another source inside one).
  bool Busy() const { return taking_ > 0; }

  const Receiver& Current() const { return *current_; }
  // The one table of streams, where sinks keep what they keep per stream.
  StreamStates& Streams() { return receivers_; }
  // Visits the `most` streams heard most recently; how many there are.
  size_t VisitRecentStreams(size_t most, const StreamVisitor& visit) const;
  FixRecord& CurrentFix() { return current_->decoder.Fix(); }
  Receiver& Single() { return receivers_.Single(); }
  const DecoderSettings& Settings() const { return receivers_.Settings(); }
  void Settings(const DecoderSettings& settings) { receivers_.Settings(settings); }
  const SentenceCensus& Heard() const { return heard_; }
  double ChecksumErrors() const { return receivers_.ChecksumErrors(); }
  uint64_t MalformedFields() const { return receivers_.MalformedFields(); }

 private:
  // The stream's receiver, made the current one, with a block (or epoch) under way.
  Receiver& Enter(std::string_view stream);
  // The stream's outputs and the epoch sinks told the block is done.
  void EndOfBlock(Receiver& receiver);
  // A GGA's fix to the stream's outputs and the epoch sinks, with the time in `gga_time_`.
  void HandGga(Receiver& receiver, const FixRecord& fix);
  void TakeSentence(Receiver& receiver, std::string_view sentence);
  void RaiseEpoch(const Fix& fix, Receiver& receiver);
  void MakeOutputs(Receiver& receiver);

  Events events_;
  ReceiverTable receivers_;
  Receiver* current_ = &receivers_.Single();
  SentenceCensus heard_;
  std::string gga_time_;  // the ISO time handed with a GGA, its room kept between them
  std::vector<std::shared_ptr<EpochSink>> epoch_sinks_;
  std::vector<std::shared_ptr<BlockSink>> block_sinks_;
  std::vector<std::shared_ptr<StreamSinkMaker>> makers_;
  int taking_ = 0;
};

}  // namespace quorvane
