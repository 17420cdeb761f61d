#pragma once
// The version of the library and its programs, as the build names it.

#include <string>

namespace quorvane {

// "5.4.88".
std::string ControlVersion();

}  // namespace quorvane
