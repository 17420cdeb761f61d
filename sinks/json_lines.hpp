#pragma once
// Each epoch as a line of gpsd's JSON on a stream: its TPV, and its SKY when the satellites
// changed. One write per epoch, so a fast replay prints whole lines.

#include <ostream>
#include <string>

#include "sinks/gpsd_json.hpp"
#include "receiver/receiver_table.hpp"
#include "receiver/sinks.hpp"

namespace quorvane {

class JsonLines final : public EpochSink {
 public:
  explicit JsonLines(std::ostream& out) : out_(out) {}

  void TakeEpoch(const Fix& fix, const std::string& stream) override {
    std::string lines = TpvJson(fix, stream) + '\n';
    if (sky_changes_.Take(fix, stream)) lines += SkyJson(fix, stream) + '\n';
    out_.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  }

 private:
  std::ostream& out_;
  // As many streams as the control keeps; past that they start again.
  SkyChanges sky_changes_{ReceiverTable::kMaxStreams};
};

}  // namespace quorvane
