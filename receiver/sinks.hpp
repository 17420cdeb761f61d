#pragma once
// Where received text and fixes go. The receive path hands each block, once its sentences are
// decoded, to every sink added to the control, in the order added:
//   - an epoch sink takes each reporting cycle as one typed fix (track files, printers,
//     servers), and may take each GGA as it is decoded (the KML recorder's placemarks) and each
//     whole sentence (a log, the servers of sentences);
//   - a block sink takes the received text itself (relays, servers of raw sentences).
// All of it runs on the control's io_context, inside the operation that received the block.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "../nmea/fix.hpp"
#include "../nmea/fix_record.hpp"

namespace quorvane {

// A GGA sentence decoded into the fix the properties read.
struct DecodedGga {
  const FixRecord& fix;  // as the sentence left it
  std::string time;      // the cycle's date and the sentence's time, ISO 8601; empty if unknown
};

class EpochSink {
 public:
  virtual ~EpochSink() = default;
  // One reporting cycle of a receiver. `stream` names the fleet's vehicle (an MQTT topic), or
  // is empty for a single receiver.
  virtual void TakeEpoch(const Fix& /*fix*/, const std::string& /*stream*/) {}
  // A GGA, as it is decoded (before its cycle ends).
  virtual void TakeGga(const DecodedGga&) {}
  // Each whole sentence of a stream as it was received, "$" to CR, before it is decoded: what
  // an output of sentences takes (a log, a server's watchers), since a block may hold half of
  // one and a fleet's blocks would splice its vehicles.
  virtual void TakeSentence(std::string_view /*sentence*/, const std::string& /*stream*/) {}
  // The block that brought the last epochs is done: what was written goes to the disk.
  virtual void EndOfBlock() {}
  // The source stopped and its last cycle was handed on: a stream's output ends its files.
  virtual void SourceStopped() {}
};

// Makes an output for each stream of a source that carries several (a track file per vehicle
// of a fleet) as the stream is first heard. Each takes its own stream's epochs only, and goes
// with its stream: when the stream is forgotten to make room, or when another source opens.
// Visits a stream with its last epoch.
using StreamVisitor = std::function<void(const std::string& stream, const Fix& last)>;

class StreamSinkMaker {
 public:
  virtual ~StreamSinkMaker() = default;
  // The output of a new stream, or null to leave it without one.
  virtual std::unique_ptr<EpochSink> MakeFor(const std::string& stream) = 0;
};

// What a sink keeps for one stream: a server's device, a vehicle on the map, the last SKY
// written. It lives in that stream's entry of the control's one table of streams and goes with
// it, when the stream is forgotten to make room or another source opens: its destructor is the
// one word the sink hears of that.
class StreamState {
 public:
  virtual ~StreamState() = default;
};

// The control's table of streams, as the sinks that keep something per stream use it.
class StreamStates {
 public:
  using Visitor = std::function<bool(const std::string& stream, StreamState& state)>;

  virtual ~StreamStates() = default;
  // A slot of a sink's own in every stream.
  virtual size_t NewSlot() = 0;
  // What `slot` holds for `stream` ("" the one receiver), made by `make` (a unique_ptr to a
  // State) when it holds nothing yet; a stream not heard yet becomes known.
  template <typename State, typename Make>
  State& Kept(size_t slot, const std::string& stream, Make&& make) {
    std::unique_ptr<StreamState>& kept = Slot(slot, stream);
    if (!kept) kept = make();
    return static_cast<State&>(*kept);
  }
  // What `slot` holds for `stream`, or null: nothing is made.
  virtual StreamState* Find(size_t slot, const std::string& stream) = 0;
  // Visits what `slot` holds, the stream heard most recently first and the one receiver last,
  // until `visit` returns false.
  virtual void Visit(size_t slot, const Visitor& visit) = 0;

 protected:
  virtual std::unique_ptr<StreamState>& Slot(size_t slot, const std::string& stream) = 0;
};

// Where a block came from, as a block sink's policy needs it.
struct BlockOrigin {
  const std::string& stream;  // the vehicle of a fleet, or empty
  bool from_network = false;  // received from another control's rebroadcast
};

class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // The received text, as the host's Stream handler left it.
  virtual void TakeBlock(std::string_view block, const BlockOrigin& origin) = 0;
};

}  // namespace quorvane
