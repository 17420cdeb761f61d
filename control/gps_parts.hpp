#pragma once
// What the GPS control is made of, behind its façade: the host's events, the receive path with
// its sinks (the relay and the KML recorder among them), the serial port, and the source being
// read, whose opening, stopping and losses this part owns.

#include <memory>
#include <string>

#include "control/advised_sinks.hpp"
#include "control/gps.hpp"
#include "sinks/track_recorder.hpp"
#include "sinks/udp_relay.hpp"
#include "receiver/receive_path.hpp"
#include "sources/serial_source.hpp"

namespace quorvane {

class GPS::Parts {
 public:
  Parts(asio::io_context& io, Platform& platform);

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
  void RaiseError(std::string description) { events.Raise(&GpsEventSink::Error, description); }

  asio::io_context& io;
  Platform& platform;
  AdvisedSinks events;
  ReceivePath path;
  std::shared_ptr<UdpRelay> relay;
  std::shared_ptr<TrackRecorder> recorder;
  std::shared_ptr<SerialSource> serial;
  SourceSettings source_settings;
  int16_t rx_port = 0;
  int16_t server_ip = 0;

 private:
  void WatchLosses(BlockSource& source, const std::string& name);

  // Kept after Stop closes it: it may be the one whose block is being taken.
  std::shared_ptr<BlockSource> source_;
  bool running_ = false;
};

}  // namespace quorvane
