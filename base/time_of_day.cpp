#include "base/time_of_day.hpp"

#include "base/text_rules.hpp"

namespace quorvane {

namespace {

bool AllDigits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

TimeOfDay TimeOfDayOf(std::string_view hhmmss) {
  // The usual field, six digits and perhaps a fraction, read at once; the same numbers as the
  // rule below gives it.
  const bool plain = hhmmss.size() >= 6 && AllDigits(hhmmss.substr(0, 6)) &&
                     (hhmmss.size() == 6 || (hhmmss[6] == '.' && AllDigits(hhmmss.substr(7))));
  if (const auto seconds = plain ? ScanDecimalRun(hhmmss.substr(4)).Short() : std::nullopt) {
    const auto pair = [hhmmss](size_t at) {
      return static_cast<int16_t>((hhmmss[at] - '0') * 10 + (hhmmss[at + 1] - '0'));
    };
    const TimeOfDay time{pair(0), pair(2), pair(4), 0};
    return {time.hour, time.minute, time.second,
            time.hour * 3600.0 + time.minute * 60.0 + *seconds};
  }
  const auto piece = [hhmmss](size_t position) {
    return ReadLeadingInt16(Mid(hhmmss, position, 2)).value_or(0);
  };
  TimeOfDay time{piece(0), piece(2), piece(4), 0};
  const std::string_view seconds = hhmmss.size() > 4 ? hhmmss.substr(4) : std::string_view();
  time.seconds_of_day = time.hour * 3600.0 + time.minute * 60.0 + ReadLeadingNumber(seconds);
  return time;
}

}  // namespace quorvane
