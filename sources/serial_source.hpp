#pragma once
// The serial receiver as a source: the port selected by its number, with the line settings it
// keeps between openings; a command for the receiver is written to the port. Opened by an
// address, it waits for a device that is not there yet and comes back to one that was
// unplugged and plugged in again, trying at the pace of a lost connection.

#include <cstdint>
#include <string>

#include <asio/io_context.hpp>

#include "base/life_token.hpp"
#include "platform/retry_schedule.hpp"
#include "platform/serial_comm.hpp"
#include "sources/block_source.hpp"

namespace quorvane {

class SerialSource final : public BlockSource {
 public:
  explicit SerialSource(asio::io_context& io) : port_(io), retry_(io) {}

  // The port to open next; selected when the source begins.
  void PortNumber(int16_t number) { number_ = number; }
  int16_t PortNumber() const { return number_; }
  std::string Settings() const { return port_.Settings(); }
  // A text the port refuses is dropped; its settings stay as they were.
  void Settings(const std::string& text);

  // Whether a port that cannot be opened, or goes away, is waited for (told as a loss) instead
  // of being an error.
  void WaitForDevice(bool waits) { waits_ = waits; }

  // Opens the port; unless it waits for the device, a port that cannot be opened throws
  // SerialError (the last failure).
  void Begin(BlockHandler on_block) override;
  void Close() override;
  bool IsOpen() const override { return port_.PortOpen(); }
  bool EverOpen() const override { return ever_open_; }
  // Nothing to tell: a command for a receiver that is not there is lost.
  void Send(std::string_view text) override;

 private:
  void OpenPort();
  void TryOpen();
  void Lose(const std::string& reason);

  SerialComm port_;
  RetrySchedule retry_;
  int16_t number_ = 0;
  bool waits_ = false;
  bool ever_open_ = false;
  bool closed_ = true;
  LifeToken alive_;
};

}  // namespace quorvane
