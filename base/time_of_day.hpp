#pragma once
// The one reading of an NMEA time of day, hhmmss[.ss]: the decoder, the clock setters and the
// log replay's pacing all take their hours, minutes and seconds from here.

#include <cstdint>
#include <string_view>

namespace quorvane {

struct TimeOfDay {
  // Each from its two characters by the leading-number rule; a piece that is missing or no
  // number is 0.
  int16_t hour = 0;
  int16_t minute = 0;
  int16_t second = 0;
  // Seconds since midnight, the fraction of the second included.
  double seconds_of_day = 0;

  bool operator==(const TimeOfDay&) const = default;
};

TimeOfDay TimeOfDayOf(std::string_view hhmmss);

}  // namespace quorvane
