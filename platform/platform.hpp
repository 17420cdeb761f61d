#pragma once
// The seam between the control and the machine: everything the control asks of the operating
// system beyond its serial and socket components. SystemPlatform is the real machine; tests
// put a fake in its place, so no test touches the machine's clock or opens a browser.

#include <cstdint>
#include <string>

#include "../base/clock_reading.hpp"

namespace quorvane {

class Platform {
 public:
  virtual ~Platform() = default;

  // See SystemCalls::ListSerialPorts.
  virtual std::string ListSerialPorts(bool StripPrefix) = 0;

  virtual ClockReading Now() = 0;

  // The zone's standard bias in minutes, UTC = local standard time + bias (west positive);
  // daylight saving is left out.
  virtual int32_t GetTimeZoneBias() = 0;
  // The name of the zone's standard time, such as "CET".
  virtual std::string GetTimeZoneStandardName() = 0;

  // Set the computer's clock to a time of day, on the date that puts it nearest to the
  // current clock; local or UTC time of day. Failures (no right to set the clock, a field out
  // of range) leave the clock as it was and are not reported.
  virtual void SetLocalClock(int16_t hour, int16_t minute, int16_t second) = 0;
  virtual void SetUtcClock(int16_t hour, int16_t minute, int16_t second) = 0;

  // Hands a web address to the user's default browser; whether that works is not reported.
  virtual void ShellOpen(const std::string& address) = 0;
};

class SystemPlatform final : public Platform {
 public:
  std::string ListSerialPorts(bool StripPrefix) override;
  ClockReading Now() override;
  int32_t GetTimeZoneBias() override;
  std::string GetTimeZoneStandardName() override;
  void SetLocalClock(int16_t hour, int16_t minute, int16_t second) override;
  void SetUtcClock(int16_t hour, int16_t minute, int16_t second) override;
  void ShellOpen(const std::string& address) override;
};

// The one real platform of the process.
Platform& TheSystemPlatform();

}  // namespace quorvane
