#include "nmea/fix.hpp"

#include <array>

#include "base/text_rules.hpp"
#include "nmea/satellite_numbering.hpp"

namespace quorvane {
namespace {

// The system a talker's sentences describe; nothing for a combined talker ("GN") or an unknown.
std::optional<Constellation> ConstellationOfTalker(std::array<char, 2> talker) {
  switch (talker[0] << 8 | talker[1]) {
    case 'G' << 8 | 'P':
      return Constellation::kGps;
    case 'G' << 8 | 'L':
      return Constellation::kGlonass;
    case 'G' << 8 | 'A':
      return Constellation::kGalileo;
    case 'G' << 8 | 'B':
    case 'B' << 8 | 'D':
      return Constellation::kBeidou;
    case 'G' << 8 | 'Q':
    case 'Q' << 8 | 'Z':
      return Constellation::kQzss;
    case 'G' << 8 | 'I':
      return Constellation::kNavic;
    default:
      return std::nullopt;
  }
}

std::optional<Constellation> ConstellationOfSystemId(int system_id) {
  switch (system_id) {
    case 1:
      return Constellation::kGps;
    case 2:
      return Constellation::kGlonass;
    case 3:
      return Constellation::kGalileo;
    case 4:
      return Constellation::kBeidou;
    case 5:
      return Constellation::kQzss;
    case 6:
      return Constellation::kNavic;
    default:
      return std::nullopt;
  }
}

// `id` numbered so: true.
bool Numbered(Constellation constellation, int svid, int prn, SatelliteId& id) {
  id = {constellation, static_cast<int16_t>(svid), static_cast<int16_t>(prn)};
  return true;
}

// The numbering that receivers without a system id share: each system has a range of its own.
bool ByRange(int prn, SatelliteId& id) {
  if (prn >= 1 && prn <= 32) return Numbered(Constellation::kGps, prn, prn, id);
  if (prn >= 33 && prn <= 64) return Numbered(Constellation::kSbas, prn + 87, prn, id);
  if (prn >= 65 && prn <= 96) return Numbered(Constellation::kGlonass, prn - 64, prn, id);
  if (prn >= 120 && prn <= 158) return Numbered(Constellation::kSbas, prn, prn - 87, id);
  if (prn >= 173 && prn <= 182) return Numbered(Constellation::kImes, prn - 172, prn, id);
  if (prn >= 193 && prn <= 202) return Numbered(Constellation::kQzss, prn - 192, prn, id);
  if (prn >= 201 && prn <= 263) return Numbered(Constellation::kBeidou, prn - 200, prn + 200, id);
  if (prn >= 301 && prn <= 336) return Numbered(Constellation::kGalileo, prn - 300, prn, id);
  if (prn >= 401 && prn <= 463) return Numbered(Constellation::kBeidou, prn - 400, prn, id);
  return false;
}

// How a system's satellites are numbered: `count` of them, gpsd's PRN its number plus `prn_base`;
// receivers number them from 1, or from one of `offsets`.
struct Numbering {
  Constellation system;
  int count;
  int prn_base;
  std::array<int, 3> offsets;
};
constexpr Numbering kNumberings[] = {
    {Constellation::kGlonass, 32, 64, {0, 64, 64}},
    {Constellation::kGalileo, 36, 300, {0, 300, 300}},
    {Constellation::kBeidou, 63, 400, {0, 200, 400}},
    {Constellation::kQzss, 10, 192, {0, 192, 192}},
    {Constellation::kNavic, 14, 800, {0, 0, 0}},
};

}  // namespace

std::optional<SatelliteId> SatelliteOf(std::array<char, 2> talker, int nmea_prn,
                                       std::optional<int> system_id) {
  return SatelliteOf(SystemOfSentence(talker, system_id), nmea_prn);
}

std::optional<Constellation> SystemOfSentence(std::array<char, 2> talker,
                                              std::optional<int> system_id) {
  return system_id ? ConstellationOfSystemId(*system_id) : ConstellationOfTalker(talker);
}

bool FindSatellite(std::optional<Constellation> system, int nmea_prn, SatelliteId& id) {
  // GPS, and receivers that name no system: each system has a range of its own.
  if (!system || *system == Constellation::kGps) return ByRange(nmea_prn, id);
  for (const Numbering& numbering : kNumberings) {
    if (system != numbering.system) continue;
    for (const int offset : numbering.offsets) {
      const int svid = nmea_prn - offset;
      if (svid >= 1 && svid <= numbering.count) {
        return Numbered(numbering.system, svid, svid + numbering.prn_base, id);
      }
    }
    return false;
  }
  return ByRange(nmea_prn, id);  // SBAS and IMES by their ranges too
}

std::optional<SatelliteId> SatelliteOf(std::optional<Constellation> system, int nmea_prn) {
  SatelliteId id;
  if (!FindSatellite(system, nmea_prn, id)) return std::nullopt;
  return id;
}

void PutTimeOfDay(std::string& text, size_t at, UtcTime time) {
  const int seconds = static_cast<int>(time.microseconds / 1'000'000);
  PutDigits(text, at, seconds / 3600, 2);
  PutDigits(text, at + 3, seconds / 60 % 60, 2);
  PutDigits(text, at + 6, seconds % 60, 2);
}

std::string TimeOfDayText(const std::optional<UtcTime>& time) {
  if (!time) return {};
  std::string text = "00:00:00";
  PutTimeOfDay(text, 0, *time);
  return text;
}

std::string IsoTimeText(const std::optional<CalendarDate>& date,
                        const std::optional<UtcTime>& time) {
  std::string iso;
  AppendIsoTimeText(date, time, iso);
  return iso;
}

void AssignIsoTimeText(const std::optional<CalendarDate>& date, const std::optional<UtcTime>& time,
                       std::string& iso) {
  iso.clear();
  AppendIsoTimeText(date, time, iso);
}

bool AppendIsoTimeText(const std::optional<CalendarDate>& date, const std::optional<UtcTime>& time,
                       std::string& text) {
  if (!date || !time || date->year < 0 || date->year > 9999) return false;
  const size_t at = text.size();
  text.append("0000-00-00T00:00:00.000Z");
  PutDigits(text, at, date->year, 4);
  PutDigits(text, at + 5, date->month, 2);
  PutDigits(text, at + 8, date->day, 2);
  PutTimeOfDay(text, at + 11, *time);
  PutDigits(text, at + 20, static_cast<int>(time->microseconds / 1000 % 1000), 3);
  return true;
}

std::optional<std::chrono::system_clock::time_point> UtcTimePoint(const Fix& fix) {
  if (!fix.date || !fix.time) return std::nullopt;
  const std::chrono::year_month_day day{std::chrono::year(fix.date->year),
                                        std::chrono::month(static_cast<unsigned>(fix.date->month)),
                                        std::chrono::day(static_cast<unsigned>(fix.date->day))};
  if (!day.ok()) return std::nullopt;
  return std::chrono::sys_days(day) + std::chrono::microseconds(fix.time->microseconds);
}

}  // namespace quorvane
