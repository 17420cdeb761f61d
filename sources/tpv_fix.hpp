#pragma once
// A TPV object of gpsd's protocol read back into an epoch: what a fleet's publishers send for
// each of their vehicles' cycles. Only what a TPV carries is set (no satellites); a member of the
// wrong type, or a time that is no UTC time, makes the whole object unreadable.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "nmea/fix.hpp"

namespace quorvane {

// The longest text read as a TPV object.
inline constexpr size_t kLongestTpv = 64 * 1024;

// The epoch, or what is wrong with the text ("no JSON object", "\"lat\" is no number").
struct ReadTpv {
  std::optional<Fix> fix;
  std::string fault;
};
ReadTpv FixOfTpv(std::string_view json);

// "2026-12-08T12:00:00.500Z" (the fraction optional) as a date and a time of day.
bool ReadIsoTime(std::string_view text, CalendarDate& date, UtcTime& time);

// Whether a vehicle's epoch read from a fleet's messages is new: later than the last one taken
// of that vehicle. A message delivered again (a publication repeated after a lost
// acknowledgement, a broker's retained last fix) is not; an epoch without a time always is.
class LatestEpochs {
 public:
  // The vehicles whose last time is kept: past it the table starts again (a repeat of a vehicle
  // forgotten then would be taken twice, where the table of streams forgets it anyway).
  static constexpr size_t kVehiclesKept = 65536;

  bool IsNew(const std::string& vehicle, const Fix& fix);

 private:
  std::unordered_map<std::string, std::chrono::system_clock::time_point> last_;
};

}  // namespace quorvane
