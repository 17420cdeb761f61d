#pragma once
// A source of received text beyond the serial port and the UDP socket: it hands each block
// forward as it arrives, on the io_context's thread, to the receive path the control gives it.

#include <functional>
#include <string>
#include <string_view>

namespace quorvane {

class BlockSource {
 public:
  // `stream` names the sender within a source that carries several (an MQTT topic), each with
  // text of its own that must never be spliced with another's; it is empty for a source of
  // one stream.
  using BlockHandler = std::function<void(std::string_view block, std::string_view stream)>;

  virtual ~BlockSource() = default;

  // Starts handing blocks to `on_block`; the views are valid during the call only.
  virtual void Begin(BlockHandler on_block) = 0;
  // Stops for good: no block is handed forward after it.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Will never open again by itself (a broker that refused the login), where IsOpen may be a
  // connection still being retried.
  virtual bool GaveUp() const { return false; }
  // Where the text comes from now when the source may move between servers (the broker of a
  // cluster in use); empty otherwise.
  virtual std::string Peer() const { return {}; }
};

}  // namespace quorvane
