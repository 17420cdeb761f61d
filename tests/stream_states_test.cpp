// What sinks keep per stream lives in the receive path's one table and goes with its stream.

#include <gtest/gtest.h>

#include <string>

#include "receiver/receive_path.hpp"

namespace quorvane {
namespace {

int states_alive = 0;

struct Counted final : StreamState {
  Counted() { ++states_alive; }
  ~Counted() override { --states_alive; }
  int epochs = 0;
};

// Keeps a state for every stream whose epoch it takes.
class KeepingSink final : public EpochSink {
 public:
  explicit KeepingSink(StreamStates& streams) : streams_(streams), slot_(streams.NewSlot()) {}
  void TakeEpoch(const Fix&, const std::string& stream) override {
    ++streams_.Kept<Counted>(slot_, stream, [] { return std::make_unique<Counted>(); }).epochs;
  }
  int EpochsOf(const std::string& stream) {
    const auto* kept = static_cast<const Counted*>(streams_.Find(slot_, stream));
    return kept == nullptr ? -1 : kept->epochs;
  }

 private:
  StreamStates& streams_;
  size_t slot_;
};

TEST(StreamStates, AStreamForgottenTakesItsStatesWithItAfterItsLastCycle) {
  ReceivePath path([] { return ClockReading{}; }, {});
  const auto sink = std::make_shared<KeepingSink>(path.Streams());
  path.Add(std::static_pointer_cast<EpochSink>(sink));
  const std::string gga = "$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  for (size_t i = 0; i <= ReceiverTable::kMaxStreams; ++i) {
    path.Take(gga, "car" + std::to_string(i), false);
  }
  // The first stream made room for the last: its cycle was reported on the way out (and not
  // kept again), and its state went with it; the others' cycles are still under way.
  EXPECT_EQ(sink->EpochsOf("car0"), -1);
  EXPECT_EQ(states_alive, 0);
  path.Finish();
  EXPECT_EQ(sink->EpochsOf("car1"), 1);
  EXPECT_EQ(states_alive, static_cast<int>(ReceiverTable::kMaxStreams));
  path.Restart();  // another source: the named streams are forgotten
  path.Take(gga, "", false);
  EXPECT_EQ(states_alive, 0);
}

}  // namespace
}  // namespace quorvane
