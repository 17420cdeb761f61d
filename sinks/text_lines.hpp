#pragma once
// Each epoch as one plain line on a stream, for people and for grep:
// "12:00:00 UTC  48.117300, 11.516667  3D  41.4 km/h  84.4 deg  alt 545.4 m  sats 8", a fleet's
// vehicle before it, "no fix" when there is none. Text from a peer (a vehicle's name) reaches the
// stream printable only. Flushed once the received block (or a fleet's burst of them) is done, as
// the JSON lines are.

#include <ostream>
#include <string>

#include "nmea/fix.hpp"
#include "receiver/sinks.hpp"
#include "sinks/deferred_flush.hpp"
#include "sinks/output.hpp"

namespace quorvane {

// The epoch's line, without the vehicle and the line end, appended to `line`.
void AppendEpochLine(const Fix& fix, std::string& line);
// "3D", "2D differential", "3D RTK fixed", ...
std::string FixModeText(const Fix& fix);

class TextLines final : public EpochSink, public Output {
 public:
  TextLines(std::ostream& out, asio::io_context& io) : out_(out), flush_(io, out) {}

  void TakeEpoch(const Fix& fix, const std::string& stream) override;
  void EndOfBlock() override { flush_.Request(); }
  std::vector<std::string> Close() override;

 private:
  std::ostream& out_;
  std::string line_;  // the line being built, kept for its room
  DeferredFlush flush_;
};

}  // namespace quorvane
