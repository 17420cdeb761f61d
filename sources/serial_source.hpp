#pragma once
// The serial receiver as a source: the port selected by its number, with the line settings it
// keeps between openings; a command for the receiver is written to the port.

#include <cstdint>
#include <string>

#include <asio/io_context.hpp>

#include "platform/serial_comm.hpp"
#include "sources/block_source.hpp"

namespace quorvane {

class SerialSource final : public BlockSource {
 public:
  explicit SerialSource(asio::io_context& io) : port_(io) {}

  // The port to open next; selected when the source begins.
  void PortNumber(int16_t number) { number_ = number; }
  int16_t PortNumber() const { return number_; }
  std::string Settings() const { return port_.Settings(); }
  // A text the port refuses is dropped; its settings stay as they were.
  void Settings(const std::string& text);

  // Opens the port; a port that cannot be opened throws SerialError (the last failure).
  void Begin(BlockHandler on_block) override;
  void Close() override { port_.PortOpen(false); }
  bool IsOpen() const override { return port_.PortOpen(); }
  // Nothing to tell: a command for a receiver that is not there is lost.
  void Send(std::string_view text) override;

 private:
  SerialComm port_;
  int16_t number_ = 0;
};

}  // namespace quorvane
