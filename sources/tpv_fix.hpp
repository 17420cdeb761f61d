#pragma once
// A TPV object of gpsd's protocol read back into an epoch: what a fleet's publishers send for
// each of their vehicles' cycles. Only what a TPV carries is set (no satellites); a member of the
// wrong type, or a time that is no UTC time, makes the whole object unreadable.

#include <optional>
#include <string>
#include <string_view>

#include "nmea/fix.hpp"

namespace quorvane {

// The epoch, or what is wrong with the text ("no JSON object", "\"lat\" is no number").
struct ReadTpv {
  std::optional<Fix> fix;
  std::string fault;
};
ReadTpv FixOfTpv(std::string_view json);

// "2026-12-08T12:00:00.500Z" (the fraction optional) as a date and a time of day.
bool ReadIsoTime(std::string_view text, CalendarDate& date, UtcTime& time);

}  // namespace quorvane
