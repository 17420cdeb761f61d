#pragma once
// Each epoch as a line of gpsd's JSON on a stream: its TPV, and its SKY when the satellites
// changed. One write per epoch, so a fast replay prints whole lines; the stream is flushed once
// the received block (or a fleet's burst of them) is done, so a pipe sees every fix as it comes.

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include "receiver/sinks.hpp"
#include "sinks/deferred_flush.hpp"
#include "sinks/gpsd_json.hpp"
#include "sinks/output.hpp"

namespace quorvane {

class JsonLines final : public EpochSink, public Output {
 public:
  // Each stream's last SKY is kept in `streams`.
  JsonLines(std::ostream& out, StreamStates& streams, asio::io_context& io)
      : out_(out), sky_changes_(streams), flush_(io, out_) {}
  // Into a file of its own.
  JsonLines(std::unique_ptr<std::ofstream> file, StreamStates& streams, asio::io_context& io)
      : out_(*file), file_(std::move(file)), sky_changes_(streams), flush_(io, out_) {}

  void TakeEpoch(const Fix& fix, const std::string& stream) override;
  void EndOfBlock() override { flush_.Request(); }
  std::vector<std::string> Close() override;

 private:
  std::ostream& out_;
  std::unique_ptr<std::ofstream> file_;
  SkyChanges sky_changes_;
  DeferredFlush flush_;
  std::string lines_;  // an epoch's lines, kept for their room
};

}  // namespace quorvane
