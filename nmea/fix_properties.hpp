#pragma once
// The texts of the fix properties that the record keeps as numbers or converts. The others
// return their fix-record member as it is.

#include <string>

#include "fix_record.hpp"

namespace quorvane {

// Decimal degrees by the number-to-text rule: "48.1173", "-151.21"; empty before any GGA.
std::string LatitudeText(const FixRecord& fix);
std::string LongitudeText(const FixRecord& fix);
// hh:mm:ss from the characters of the GGA time field (missing ones are missing: "12" gives
// "12::"); empty before any GGA that had a time field.
std::string UtcTimeText(const FixRecord& fix);
// hh:mm:ss, two digits each ("-05" for a negative second); empty before any GGA.
std::string LocalTimeText(const FixRecord& fix);
// km/h by the number-to-text rule; empty before any RMC with a speed field.
std::string SpeedText(const FixRecord& fix);
// AltitudeText (taken as metres) in feet, two decimals at most: "1789.37".
std::string AltitudeFeetText(const FixRecord& fix);
// The speed in miles per hour and in knots, "#0.00".
std::string SpeedMphText(const FixRecord& fix);
std::string SpeedKnotsText(const FixRecord& fix);
// OdometerTotal in metres: "1234.56".
std::string OdometerText(const FixRecord& fix);

}  // namespace quorvane
