#include "platform/platform.hpp"

#include "platform/windows_api.hpp"

namespace quorvane {

std::string SystemPlatform::ListSerialPorts(bool StripPrefix) {
  return WindowsAPI::ListSerialPorts(StripPrefix);
}

ClockReading SystemPlatform::Now() {
  return WindowsAPI::ReadClock();
}

int32_t SystemPlatform::GetTimeZoneBias() {
  return WindowsAPI::GetTimeZoneBias();
}

std::string SystemPlatform::GetTimeZoneStandardName() {
  return WindowsAPI::GetTimeZoneStandardName();
}

void SystemPlatform::SetLocalClock(int16_t hour, int16_t minute, int16_t second) {
  WindowsAPI::SetLocalClock(hour, minute, second);
}

void SystemPlatform::SetUtcClock(int16_t hour, int16_t minute, int16_t second) {
  WindowsAPI::SetUtcClock(hour, minute, second);
}

void SystemPlatform::ShellOpen(const std::string& address) {
  WindowsAPI::ShellOpen(address);
}

Platform& TheSystemPlatform() {
  static SystemPlatform platform;
  return platform;
}

}  // namespace quorvane
