#pragma once
// What the GPS control is made of, behind its façade: the host's events, the receive path with
// its sinks (the relay and the KML recorder among them), the serial port, and the source being
// read, whose opening, stopping and losses this part owns.

#include <asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/advised_sinks.hpp"
#include "control/gps.hpp"
#include "receiver/receive_path.hpp"
#include "sinks/sink_factory.hpp"
#include "sinks/track_recorder.hpp"
#include "sinks/udp_relay.hpp"
#include "sources/serial_source.hpp"

namespace quorvane {

class GPS::Parts {
 public:
  Parts(asio::io_context& io, Platform& platform);
  // The outputs a host never closed are ended, so that their files are whole.
  ~Parts() { CloseOutputs(); }

  // Stops a running source and reads `source` from now on.
  void Open(std::shared_ptr<BlockSource> source);
  // The source an address names, opened; a failure is said as Error and opens nothing.
  void OpenAddress(const std::string& address);
  // The serial port, opened when nothing runs.
  void StartSerial();
  void Stop();
  // Raises SerialPort for each port the machine has.
  void EnumSerialPorts();
  // A receiver being read: text received from the network (another control's) is no engine.
  bool Engine() const {
    return running_ && source_ && source_->IsOpen() && !source_->FromNetwork();
  }
  const std::shared_ptr<BlockSource>& Source() const { return source_; }
  // Error, then Notice with its kind.
  void RaiseError(std::string description, NoticeKind kind = NoticeKind::kError);
  void Warn(std::string what) {
    NoticeKind kind = NoticeKind::kWarning;
    events.Raise(&GpsEventSink::Notice, what, kind);
  }

  bool OpenSink(const std::string& text);
  std::vector<std::string> SinkStates() const;
  void AwaitSinks(std::chrono::milliseconds most);
  void CloseSinks(std::chrono::milliseconds most,
                  std::function<void(const std::vector<std::string>&)> done);
  void ReopenSinkFiles();

  asio::io_context& io;
  Platform& platform;
  AdvisedSinks events;
  ReceivePath path;
  std::shared_ptr<UdpRelay> relay;
  std::shared_ptr<TrackRecorder> recorder;
  std::shared_ptr<SerialSource> serial;
  SourceSettings source_settings;
  // The source as it may be said: what outputs name the receiver by.
  std::string source_name;
  int16_t rx_port = 0;
  int16_t server_ip = 0;

 private:
  void WatchLosses(BlockSource& source, const std::string& name);

  void WaitForDeliveries(std::chrono::steady_clock::time_point deadline,
                         std::function<void(const std::vector<std::string>&)> done);
  bool Delivering() const;
  // Ends every output opened from a text at once; what they could not deliver.
  std::vector<std::string> CloseOutputs();

  // Kept after Stop closes it: it may be the one whose block is being taken.
  std::shared_ptr<BlockSource> source_;
  std::vector<MadeSink> outputs_;  // opened from texts, in that order
  asio::steady_timer delivery_wait_{io};
  bool running_ = false;
};

}  // namespace quorvane
