#pragma once
// The control's fix properties as one JSON object on one line: what a host logs or hands on per
// GGA when it wants the properties' texts rather than the typed fix.

#include <string>

#include "control/gps.hpp"

namespace quorvane {

// Each property by its name; a value that reads as a finite number is a JSON number, an empty one
// null, any other text a string. A fleet's object names its stream ("Stream").
std::string PropertiesJson(const GPS& gps);

}  // namespace quorvane
