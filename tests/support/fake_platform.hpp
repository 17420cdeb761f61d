#pragma once
// The machine as a test wants it: nothing here touches the real one.

#include <string>

#include "platform/platform.hpp"

namespace quorvane::testing {

class FakePlatform : public Platform {
 public:
  // The port list, in the stripped form "1,10" that the control asks for.
  std::string serial_ports;

  std::string ListSerialPorts(bool) override { return serial_ports; }
};

}  // namespace quorvane::testing
