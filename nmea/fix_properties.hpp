#pragma once
// The fix properties that convert units. The others return their fix-record member as it is.

#include <string>

#include "nmea/fix_record.hpp"

namespace quorvane {

// AltitudeText (taken as metres) in feet, two decimals at most: "1789.37".
std::string AltitudeFeetText(const FixRecord& fix);
// SpeedText (km/h) in miles per hour and in knots, "#0.00".
std::string SpeedMphText(const FixRecord& fix);
std::string SpeedKnotsText(const FixRecord& fix);
// OdometerTotal in metres: "1234.56".
std::string OdometerText(const FixRecord& fix);

}  // namespace quorvane
