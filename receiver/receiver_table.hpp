#pragma once
// A receiver's way from text to fix: sentences cut from its blocks, decoded into the fix the
// properties read, and gathered into epochs. A source of one receiver has one; a source that
// carries several senders (an MQTT topic filter that matches a fleet) has one for each, so that
// halves of two vehicles' sentences are never spliced and one vehicle's speed never shows beside
// another's position. The named ones are bounded: past kMaxStreams the one heard longest ago is
// forgotten to make room.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "../base/recent_table.hpp"
#include "../nmea/epoch_builder.hpp"
#include "../nmea/nmea_decoder.hpp"
#include "line_assembler.hpp"
#include "sinks.hpp"

namespace quorvane {

struct Receiver {
  Receiver(std::string stream_name, size_t pending_limit, std::function<ClockReading()> clock)
      : name(std::move(stream_name)), lines(pending_limit), decoder(std::move(clock)) {}
  std::string name;  // empty for the single receiver
  LineAssembler lines;
  NmeaDecoder decoder;
  EpochBuilder epochs;
  std::vector<std::unique_ptr<EpochSink>> outputs;   // made for this stream only
  std::vector<std::unique_ptr<StreamState>> states;  // the sinks' own, by slot
};

struct DecoderSettings {
  bool all_talkers = false;
  bool verify_checksum = false;
};

class ReceiverTable : public StreamStates {
 public:
  static constexpr size_t kMaxStreams = 16384;
  // A stream's unfinished sentence: a standard one is at most 82 characters.
  static constexpr size_t kPendingLimit = 1024;

  // Each receiver's epochs go to `on_epoch`; each new stream is shown to `on_new_stream`.
  using EpochHandler = std::function<void(const Fix&, Receiver&)>;
  using NewStreamHandler = std::function<void(Receiver&)>;

  ReceiverTable(std::function<ClockReading()> clock, EpochHandler on_epoch,
                NewStreamHandler on_new_stream);

  // The receiver of that stream ("" the single one), made when it is new; it becomes the most
  // recently heard.
  Receiver& Hear(std::string_view stream);
  // The streams forgotten by ForgetStreams go now, with what the sinks kept in them. Call it
  // before a block, never inside one: the block being taken may be theirs.
  void DropForgotten() { retired_.clear(); }
  Receiver& Single() { return single_; }
  const Receiver& Single() const { return single_; }
  // Forgets every named stream; the single receiver keeps its fix. A block being taken keeps
  // its receiver until DropForgotten: a host may open another source inside an event of it.
  void ForgetStreams();
  size_t Streams() const { return streams_.Size(); }
  // The named streams, the most recently heard first.
  const RecentTable<Receiver>& RecentStreams() const { return streams_; }
  // Every stream's outputs told the source stopped.
  void StopOutputs();

  size_t NewSlot() override { return slots_++; }
  StreamState* Find(size_t slot, const std::string& stream) override;
  void Visit(size_t slot, const Visitor& visit) override;

  const DecoderSettings& Settings() const { return settings_; }
  void Settings(const DecoderSettings& settings);
  // Every receiver ended: the cycle each has under way is handed on.
  void FinishEpochs();
  // Sentences refused for their checksum, forgotten streams' included.
  double ChecksumErrors() const;
  // Malformed fields, forgotten streams' included.
  uint64_t MalformedFields() const;

 protected:
  std::unique_ptr<StreamState>& Slot(size_t slot, const std::string& stream) override;

 private:
  void Apply(Receiver& receiver) const;
  Receiver& Make(std::string_view stream);
  // The receiver of a stream heard, without making it or changing the order; null if none.
  Receiver* Known(const std::string& stream);
  void Welcome(Receiver& receiver);
  void Evict(Receiver& receiver);
  void Forget(const Receiver& receiver);

  std::function<ClockReading()> clock_;
  EpochHandler on_epoch_;
  NewStreamHandler on_new_stream_;
  DecoderSettings settings_;
  Receiver single_;
  RecentTable<Receiver> streams_{kMaxStreams};
  RecentTable<Receiver>::Entries retired_;  // cleared away, kept to the next Find
  double forgotten_checksum_errors_ = 0;
  uint64_t forgotten_malformed_fields_ = 0;
  size_t slots_ = 0;
  Receiver* evicting_ = nullptr;  // out of the table, reporting its last cycle
};

}  // namespace quorvane
