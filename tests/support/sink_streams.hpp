#pragma once
// The control's table of streams for a sink fed by hand, as the receive path would give it.

#include "receiver/receiver_table.hpp"

namespace quorvane::testing {

struct SinkStreams : ReceiverTable {
  SinkStreams()
      : ReceiverTable([] { return ClockReading{}; }, [](const Fix&, Receiver&) {},
                      [](Receiver&) {}) {}
};

}  // namespace quorvane::testing
