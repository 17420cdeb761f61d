#include "platform/platform.hpp"

#include "platform/system_calls.hpp"

namespace quorvane {

std::string SystemPlatform::ListSerialPorts(bool StripPrefix) {
  return SystemCalls::ListSerialPorts(StripPrefix);
}

ClockReading SystemPlatform::Now() {
  return SystemCalls::ReadClock();
}

int32_t SystemPlatform::GetTimeZoneBias() {
  return SystemCalls::GetTimeZoneBias();
}

std::string SystemPlatform::GetTimeZoneStandardName() {
  return SystemCalls::GetTimeZoneStandardName();
}

void SystemPlatform::SetLocalClock(int16_t hour, int16_t minute, int16_t second) {
  SystemCalls::SetLocalClock(hour, minute, second);
}

void SystemPlatform::SetUtcClock(int16_t hour, int16_t minute, int16_t second) {
  SystemCalls::SetUtcClock(hour, minute, second);
}

void SystemPlatform::ShellOpen(const std::string& address) {
  SystemCalls::ShellOpen(address);
}

Platform& TheSystemPlatform() {
  static SystemPlatform platform;
  return platform;
}

}  // namespace quorvane
