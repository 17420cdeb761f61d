#pragma once
// The serial component: one receiver port with exactly the operations the control uses
// (CommPort, Settings, PortOpen, CommEvent, Output and the OnComm event, which hands each block
// read forward), over asio::serial_port. The port runs raw (a CR arrives as CR; no echo, no line
// editing) and is held for exclusive use. Every completion runs on the io_context the component was
// made with.
//
// An operation that cannot be done throws SerialError, whose text is the component's own
// description of the failure.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/serial_port.hpp>

#include "base/life_token.hpp"
#include "line_settings.hpp"

namespace quorvane {

class SerialError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SerialComm {
 public:
  // CommEvent of the event raised when input is waiting.
  static constexpr int16_t comEvReceive = 2;

  explicit SerialComm(asio::io_context& io);
  ~SerialComm();
  SerialComm(const SerialComm&) = delete;
  SerialComm& operator=(const SerialComm&) = delete;

  // Selects the port by its number in the port table. A number the table does not map (0
  // included) leaves no port selected and throws "Invalid port number"; not while open.
  void CommPort(int16_t number);
  int16_t CommPort() const { return number_; }

  // The line settings text. A text that cannot be read, or that the open port refuses, throws
  // and the previous settings stay. Applied at once while the port is open.
  void Settings(const std::string& text);
  std::string Settings() const { return ToText(settings_); }

  // Opens (exclusively, raw, with the current settings) or closes the selected port. Closing a
  // port that is not open does nothing.
  void PortOpen(bool open);
  bool PortOpen() const { return port_.is_open(); }

  // The reason for the current OnComm event.
  int16_t CommEvent() const { return comm_event_; }

  // Writes `data` to the port, byte for byte.
  void Output(std::string_view data);

  // Raised on the io_context's thread with each block read (CommEvent comEvReceive). The view
  // is valid during the call only.
  void OnComm(std::function<void(std::string_view received)> handler) {
    on_comm_ = std::move(handler);
  }
  // Raised once the device went away while it was read (a USB receiver unplugged, the far end
  // of a pseudo-terminal closed): the port is closed then, with the reason.
  void OnGone(std::function<void(const std::string& reason)> handler) {
    on_gone_ = std::move(handler);
  }

 private:
  void ApplySettings(const LineSettings& settings);
  void RestoreSettings();
  void ReadNext();
  void ClosePort();

  asio::serial_port port_;
  LineSettings settings_;
  int16_t number_ = 0;
  std::string device_;
  // Large enough that one read usually takes everything the driver holds.
  // One read is one block, and a block is rebroadcast as one UDP datagram: no more than one
  // datagram carries (65,507 bytes).
  std::vector<char> read_buffer_ = std::vector<char>(65507);
  int16_t comm_event_ = 0;
  // Reads started for an earlier opening of the port must not touch this one.
  uint64_t opening_ = 0;
  std::function<void(std::string_view)> on_comm_;
  std::function<void(const std::string& reason)> on_gone_;
  // Completions that outlive the component see it expired and do nothing.
  LifeToken alive_;
};

}  // namespace quorvane
