#include "nmea/fix_properties.hpp"

#include <array>
#include <cstdio>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

constexpr double kMphPerKmh = 0.6213711922373;
constexpr double kKnotsPerKmh = 0.5399568034557;
// The altitude's own eight-digit factor, not the one of the distance methods.
constexpr double kFeetPerMetre = 3.2808399;

std::string TextOf(const std::optional<double>& value) {
  return value ? NumberToText(*value) : std::string();
}

// At least two digits: 9 is "09", -5 is "-05".
void AppendTwoDigits(int value, std::string& text) {
  std::array<char, 16> digits{};
  const int length =
      std::snprintf(digits.data(), digits.size(), "%02d", value < 0 ? -value : value);
  if (value < 0) text += '-';
  text.append(digits.data(), static_cast<size_t>(length));
}

}  // namespace

std::string LatitudeText(const FixRecord& fix) {
  return TextOf(fix.latitude);
}

std::string LongitudeText(const FixRecord& fix) {
  return TextOf(fix.longitude);
}

std::string UtcTimeText(const FixRecord& fix) {
  if (!fix.utc_time_field) return {};
  const std::string_view field = *fix.utc_time_field;
  std::string text(Mid(field, 0, 2));
  text += ':';
  text += Mid(field, 2, 2);
  text += ':';
  text += Mid(field, 4, 2);
  return text;
}

std::string LocalTimeText(const FixRecord& fix) {
  if (!fix.local_time) return {};
  std::string text;
  AppendTwoDigits(fix.local_time->hour, text);
  text += ':';
  AppendTwoDigits(fix.local_time->minute, text);
  text += ':';
  AppendTwoDigits(fix.local_time->second, text);
  return text;
}

std::string SpeedText(const FixRecord& fix) {
  return TextOf(fix.speed_kmh);
}

std::string AltitudeFeetText(const FixRecord& fix) {
  return NumberToText(RoundHalfEven2(ReadLeadingNumber(fix.AltitudeText) * kFeetPerMetre));
}

std::string SpeedMphText(const FixRecord& fix) {
  return FormatTwoDecimals(fix.speed_kmh.value_or(0) * kMphPerKmh);
}

std::string SpeedKnotsText(const FixRecord& fix) {
  return FormatTwoDecimals(fix.speed_kmh.value_or(0) * kKnotsPerKmh);
}

std::string OdometerText(const FixRecord& fix) {
  return NumberToText(fix.OdometerTotal);
}

}  // namespace quorvane
