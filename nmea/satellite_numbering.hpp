#pragma once
// The satellite a receiver's number names, written where the caller keeps it.

#include <optional>

#include "nmea/fix.hpp"

namespace quorvane {

// SatelliteOf, written into `id` (left as it was when the number names no satellite): for a
// caller that keeps its ids in place (the sky, the satellites used). An id returned is built on
// the stack and read back at once, which the processor cannot forward from the stores that made
// it: a stall per satellite.
bool FindSatellite(std::optional<Constellation> system, int nmea_prn, SatelliteId& id);

}  // namespace quorvane
