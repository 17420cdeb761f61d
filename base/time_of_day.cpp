#include "base/time_of_day.hpp"

#include "base/text_rules.hpp"

namespace quorvane {

TimeOfDay TimeOfDayOf(std::string_view hhmmss) {
  const auto piece = [hhmmss](size_t position) {
    return ReadLeadingInt16(Mid(hhmmss, position, 2)).value_or(0);
  };
  TimeOfDay time{piece(0), piece(2), piece(4), 0};
  const std::string_view seconds = hhmmss.size() > 4 ? hhmmss.substr(4) : std::string_view();
  time.seconds_of_day = time.hour * 3600.0 + time.minute * 60.0 + ReadLeadingNumber(seconds);
  return time;
}

}  // namespace quorvane
