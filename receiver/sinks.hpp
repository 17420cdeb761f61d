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
