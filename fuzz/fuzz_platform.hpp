#pragma once
// The machine as the fuzz targets see it: a clock they set, and nothing that reaches outside.

#include <string>

#include "platform/platform.hpp"

namespace quorvane::fuzzing {

class FuzzPlatform : public Platform {
 public:
  ClockReading now;
  int32_t bias_minutes = 0;
  std::string standard_name = "FUZ";
  std::string serial_ports;

  std::string ListSerialPorts(bool) override { return serial_ports; }
  ClockReading Now() override { return now; }
  int32_t GetTimeZoneBias() override { return bias_minutes; }
  std::string GetTimeZoneStandardName() override { return standard_name; }
  void SetLocalClock(int16_t, int16_t, int16_t) override {}
  void SetUtcClock(int16_t, int16_t, int16_t) override {}
  void ShellOpen(const std::string&) override {}
};

}  // namespace quorvane::fuzzing
