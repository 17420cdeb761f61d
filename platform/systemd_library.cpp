#include "platform/systemd_library.hpp"

namespace quorvane {
namespace {

void Fill(const LoadedLibrary& library, SystemdLibrary& functions) {
  QGPS_SYSTEMD_FUNCTIONS(QGPS_FIND_FUNCTION)
}

}  // namespace

const SystemdLibrary& Systemd() {
  return LoadedFunctions<SystemdLibrary>(QGPS_SYSTEMD_SONAME, "libsystemd0", Fill);
}

}  // namespace quorvane
