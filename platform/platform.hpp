#pragma once
// The seam between the control and the machine: everything the control asks of the operating
// system beyond its serial and socket components. SystemPlatform is the real machine; tests
// put a fake in its place, so no test touches the machine's clock or opens a browser.

#include <string>

namespace quorvane {

class Platform {
 public:
  virtual ~Platform() = default;

  // See WindowsAPI::ListSerialPorts.
  virtual std::string ListSerialPorts(bool StripPrefix) = 0;
};

class SystemPlatform final : public Platform {
 public:
  std::string ListSerialPorts(bool StripPrefix) override;
};

// The one real platform of the process.
Platform& TheSystemPlatform();

}  // namespace quorvane
