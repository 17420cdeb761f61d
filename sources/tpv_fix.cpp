#include "sources/tpv_fix.hpp"

#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

namespace quorvane {
namespace {

// Reads `digits` decimal digits at `at`; false when there are not.
bool ReadDigits(std::string_view text, size_t at, size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  const char* begin = text.data() + at;
  const auto result = std::from_chars(begin, begin + digits, value);
  return result.ec == std::errc{} && result.ptr == begin + digits;
}

// A number member: absent leaves `value` absent; false when it is there and no finite number.
bool ReadNumber(const nlohmann::json& tpv, const char* name, std::optional<double>& value) {
  const auto member = tpv.find(name);
  if (member == tpv.end()) return true;
  if (!member->is_number() || !std::isfinite(member->get<double>())) return false;
  value = member->get<double>();
  return true;
}

}  // namespace

bool ReadIsoTime(std::string_view text, CalendarDate& date, UtcTime& time) {
  int hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, date.year) || text.substr(4, 1) != "-" ||
      !ReadDigits(text, 5, 2, date.month) || text.substr(7, 1) != "-" ||
      !ReadDigits(text, 8, 2, date.day) || text.substr(10, 1) != "T" ||
      !ReadDigits(text, 11, 2, hour) || text.substr(13, 1) != ":" ||
      !ReadDigits(text, 14, 2, minute) || text.substr(16, 1) != ":" ||
      !ReadDigits(text, 17, 2, second)) {
    return false;
  }
  int64_t microseconds = 0;
  size_t at = 19;
  if (text.substr(at, 1) == ".") {
    int64_t scale = 100000;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
      microseconds += (text[at] - '0') * scale;
    }
  }
  if (text.substr(at) != "Z") return false;
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  time.microseconds = ((hour * 60 + minute) * 60 + second) * int64_t{1000000} + microseconds;
  return true;
}

ReadTpv FixOfTpv(std::string_view json) {
  if (json.size() > kLongestTpv) return {std::nullopt, "longer than 64 KiB"};
  const auto tpv = nlohmann::json::parse(json, nullptr, false);
  if (!tpv.is_object()) return {std::nullopt, "no JSON object"};
  if (tpv.value("class", nlohmann::json()) != "TPV") return {std::nullopt, "no TPV object"};
  Fix fix;
  const auto mode = tpv.find("mode");
  if (mode == tpv.end() || !mode->is_number_integer() || *mode < 0 || *mode > 3) {
    return {std::nullopt, "\"mode\" is no number from 0 to 3"};
  }
  fix.mode = static_cast<FixMode>(mode->get<int>());
  if (const auto status = tpv.find("status"); status != tpv.end()) {
    if (!status->is_number_integer() || *status < 0 || *status > 8) {
      return {std::nullopt, "\"status\" is no number from 0 to 8"};
    }
    fix.status = static_cast<FixStatus>(status->get<int>());
  }
  if (const auto time = tpv.find("time"); time != tpv.end()) {
    CalendarDate date;
    UtcTime of_day;
    if (!time->is_string() || !ReadIsoTime(time->get_ref<const std::string&>(), date, of_day)) {
      return {std::nullopt, "\"time\" is no UTC time"};
    }
    fix.date = date;
    fix.time = of_day;
  }
  const std::pair<const char*, std::optional<double>*> numbers[] = {
      {"lat", &fix.latitude},
      {"lon", &fix.longitude},
      {"altHAE", &fix.altitude_hae},
      {"altMSL", &fix.altitude_msl},
      {"geoidSep", &fix.geoid_separation},
      {"speed", &fix.speed},
      {"track", &fix.course},
      {"magvar", &fix.magnetic_variation},
      {"climb", &fix.climb},
      {"epx", &fix.longitude_error},
      {"epy", &fix.latitude_error},
      {"epv", &fix.altitude_error}};
  for (const auto& [name, value] : numbers) {
    if (!ReadNumber(tpv, name, *value)) {
      return {std::nullopt, "\"" + std::string(name) + "\" is no number"};
    }
  }
  if (!fix.altitude_msl) ReadNumber(tpv, "alt", fix.altitude_msl);
  const bool off_globe = (fix.latitude && std::abs(*fix.latitude) > 90) ||
                         (fix.longitude && std::abs(*fix.longitude) > 180);
  if (off_globe) return {std::nullopt, "a position off the globe"};
  return {std::move(fix), {}};
}

bool LatestEpochs::IsNew(const std::string& vehicle, const Fix& fix) {
  const auto time = UtcTimePoint(fix);
  if (!time) return true;
  if (last_.size() >= kVehiclesKept) last_.clear();
  auto [last, first] = last_.try_emplace(vehicle, *time);
  if (!first && *time <= last->second) return false;
  last->second = *time;
  return true;
}

}  // namespace quorvane
