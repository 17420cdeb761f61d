#include "platform/platform.hpp"

#include "platform/windows_api.hpp"

namespace quorvane {

std::string SystemPlatform::ListSerialPorts(bool StripPrefix) {
  return WindowsAPI::ListSerialPorts(StripPrefix);
}

Platform& TheSystemPlatform() {
  static SystemPlatform platform;
  return platform;
}

}  // namespace quorvane
