#pragma once
// The machine as a test wants it: nothing here touches the real one.

#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace quorvane::testing {

class FakePlatform : public Platform {
 public:
  struct ClockSetting {
    bool utc;
    int16_t hour, minute, second;
    bool operator==(const ClockSetting&) const = default;
  };

  // The port list, in the stripped form "1,10" that the control asks for.
  std::string serial_ports;
  ClockReading now;
  int32_t bias_minutes = 0;
  std::string standard_name;
  std::vector<ClockSetting> clock_settings;
  std::vector<std::string> opened_addresses;

  std::string ListSerialPorts(bool) override { return serial_ports; }
  ClockReading Now() override { return now; }
  int32_t GetTimeZoneBias() override { return bias_minutes; }
  std::string GetTimeZoneStandardName() override { return standard_name; }
  void SetLocalClock(int16_t h, int16_t m, int16_t s) override {
    clock_settings.push_back({false, h, m, s});
  }
  void SetUtcClock(int16_t h, int16_t m, int16_t s) override {
    clock_settings.push_back({true, h, m, s});
  }
  void ShellOpen(const std::string& address) override { opened_addresses.push_back(address); }
};

}  // namespace quorvane::testing
