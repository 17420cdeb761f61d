#pragma once
// libsystemd, loaded only when a service manager started the program (see
// platform/loaded_library.hpp): a run from a shell or a host's process does not pay for it and
// the compression and crypto libraries it brings. Call its functions through Systemd().

#include <systemd/sd-daemon.h>

#include "platform/loaded_library.hpp"

namespace quorvane {

// Every function of libsystemd this project calls.
// clang-format off
#define QGPS_SYSTEMD_FUNCTIONS(X) \
  X(sd_listen_fds_with_names) \
  X(sd_notify) \
  X(sd_watchdog_enabled)
// clang-format on

struct SystemdLibrary {
  QGPS_SYSTEMD_FUNCTIONS(QGPS_FUNCTION_POINTER)
};

// The library's functions, loaded on the first call (from any thread). Throws
// std::runtime_error saying what is missing when it cannot be loaded; a later call tries again.
const SystemdLibrary& Systemd();

}  // namespace quorvane
