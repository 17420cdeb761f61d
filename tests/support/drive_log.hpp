#pragma once
// A simulated drive written as an NMEA log, for gps-monitor to replay.

#include <fstream>
#include <string>

#include "apps/nmea_simulator.hpp"

namespace quorvane::testing {

// `fixes` fixes at 1 Hz from 12:00:00 UTC on 2026-12-07.
inline void WriteDriveLog(const std::string& path, size_t fixes) {
  simulator::DriveOptions options;
  options.duration_s = static_cast<double>(fixes);
  simulator::NmeaSimulator drive(options);
  std::ofstream log(path);
  for (size_t fix = 0; fix < fixes; ++fix) log << drive.Sentences(fix);
}

}  // namespace quorvane::testing
