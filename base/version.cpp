#include "base/version.hpp"

namespace quorvane {

// QGPS_VERSION comes from the project's own version in CMakeLists.txt.
std::string ControlVersion() {
  return QGPS_VERSION;
}

}  // namespace quorvane
