#include "nmea/fix_properties.hpp"

#include "nmea/text_rules.hpp"

namespace quorvane {
namespace {

constexpr double kMphPerKmh = 0.6213711922373;
constexpr double kKnotsPerKmh = 0.5399568034557;
// The altitude's own eight-digit factor, not the one of the distance methods.
constexpr double kFeetPerMetre = 3.2808399;

}  // namespace

std::string AltitudeFeetText(const FixRecord& fix) {
  return NumberToText(RoundHalfEven2(ReadLeadingNumber(fix.AltitudeText) * kFeetPerMetre));
}

std::string SpeedMphText(const FixRecord& fix) {
  return FormatTwoDecimals(ReadLeadingNumber(fix.SpeedText) * kMphPerKmh);
}

std::string SpeedKnotsText(const FixRecord& fix) {
  return FormatTwoDecimals(ReadLeadingNumber(fix.SpeedText) * kKnotsPerKmh);
}

std::string OdometerText(const FixRecord& fix) {
  return NumberToText(fix.OdometerTotal);
}

}  // namespace quorvane
