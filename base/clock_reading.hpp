#pragma once
// One reading of the computer's clock, as the parts that stamp or convert times take it.

namespace quorvane {

// The local date and time of day, and the offset from UTC in force at that moment (daylight
// saving included; east of UTC positive).
struct ClockReading {
  int year = 1970;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
  int utc_offset_minutes = 0;
};

}  // namespace quorvane
