#pragma once
// A source of received text (a serial port, UDP datagrams, a TCP server, gpsd, a log, an MQTT
// broker): it hands each block forward as it arrives, on the io_context's thread, to the
// receive path the control gives it.

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "../nmea/fix.hpp"

namespace quorvane {

class BlockSource {
 public:
  // `stream` names the sender within a source that carries several (an MQTT topic), each with
  // text of its own that must never be spliced with another's; it is empty for a source of
  // one stream.
  using BlockHandler = std::function<void(std::string_view block, std::string_view stream)>;
  // Told each time a source that reconnects by itself schedules a try: why the connection is
  // gone (or could not be made), the seconds until the next try, and whether this is the first
  // try since the connection was lost (later ones are the same loss going on).
  using LostHandler =
      std::function<void(const std::string& reason, double retry_seconds, bool first_of_loss)>;
  // Told once when the source gives up for good (a broker that refused the login).
  using RefusedHandler = std::function<void(const std::string& reason)>;
  // A source whose messages are whole epochs rather than sentences (a fleet's TPV objects)
  // hands each here, with the stream (the vehicle) it belongs to.
  using EpochHandler = std::function<void(const Fix& fix, std::string_view stream)>;
  // Told of something the user should know that is no loss (a message skipped as unreadable).
  using WarningHandler = std::function<void(const std::string& warning)>;

  virtual ~BlockSource() = default;

  // Starts handing blocks to `on_block`; the views are valid during the call only. A source
  // that cannot open throws std::runtime_error saying why.
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
  // Has been open at some time: a loss is then a connection lost, not one never made.
  virtual bool EverOpen() const { return true; }
  // Text for the receiver itself (a command to a serial receiver); a source that cannot carry
  // it back drops it.
  virtual void Send(std::string_view) {}
  // The text is another control's rebroadcast: it is never sent on again.
  virtual bool FromNetwork() const { return false; }
  // The pattern that names its streams when it carries several senders (an MQTT topic filter,
  // "fleet/+/nmea": a fleet's vehicles); empty for a source of one stream.
  virtual std::string StreamFilter() const { return {}; }
  // The text is a recording played back: its times are not now.
  virtual bool Replays() const { return false; }

  void OnLost(LostHandler handler) { on_lost_ = std::move(handler); }
  void OnRefused(RefusedHandler handler) { on_refused_ = std::move(handler); }
  void OnEpoch(EpochHandler handler) { on_epoch_ = std::move(handler); }
  void OnWarning(WarningHandler handler) { on_warning_ = std::move(handler); }

 protected:
  void ReportLost(const std::string& reason, double retry_seconds, bool first_of_loss) const {
    if (on_lost_) on_lost_(reason, retry_seconds, first_of_loss);
  }
  void ReportRefused(const std::string& reason) const {
    if (on_refused_) on_refused_(reason);
  }
  void HandEpoch(const Fix& fix, std::string_view stream) const {
    if (on_epoch_) on_epoch_(fix, stream);
  }
  // Says `warning` unless one of its `kind` was said already: a stream of bad messages is no
  // stream of lines.
  void ReportWarningOnce(const std::string& warning, const std::string& kind) {
    if (std::find(warned_.begin(), warned_.end(), kind) != warned_.end()) return;
    if (warned_.size() < kKindsRemembered) warned_.push_back(kind);
    if (on_warning_) on_warning_(warning);
  }

 private:
  LostHandler on_lost_;
  RefusedHandler on_refused_;
  static constexpr size_t kKindsRemembered = 100;
  EpochHandler on_epoch_;
  WarningHandler on_warning_;
  std::vector<std::string> warned_;
};

}  // namespace quorvane
