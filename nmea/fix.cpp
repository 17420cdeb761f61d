#include "nmea/fix.hpp"

#include <cstdio>

namespace quorvane {
namespace {

// The system a talker's sentences describe; nothing for a combined talker ("GN") or an unknown.
std::optional<Constellation> ConstellationOfTalker(std::array<char, 2> talker) {
  const std::string_view name(talker.data(), talker.size());
  if (name == "GP") return Constellation::kGps;
  if (name == "GL") return Constellation::kGlonass;
  if (name == "GA") return Constellation::kGalileo;
  if (name == "GB" || name == "BD") return Constellation::kBeidou;
  if (name == "GQ" || name == "QZ") return Constellation::kQzss;
  if (name == "GI") return Constellation::kNavic;
  return std::nullopt;
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

SatelliteId Numbered(Constellation constellation, int svid, int prn) {
  return {constellation, svid, prn};
}

// The numbering that receivers without a system id share: each system has a range of its own.
std::optional<SatelliteId> ByRange(int prn) {
  if (prn >= 1 && prn <= 32) return Numbered(Constellation::kGps, prn, prn);
  if (prn >= 33 && prn <= 64) return Numbered(Constellation::kSbas, prn + 87, prn);
  if (prn >= 65 && prn <= 96) return Numbered(Constellation::kGlonass, prn - 64, prn);
  if (prn >= 120 && prn <= 158) return Numbered(Constellation::kSbas, prn, prn - 87);
  if (prn >= 173 && prn <= 182) return Numbered(Constellation::kImes, prn - 172, prn);
  if (prn >= 193 && prn <= 202) return Numbered(Constellation::kQzss, prn - 192, prn);
  if (prn >= 201 && prn <= 263) return Numbered(Constellation::kBeidou, prn - 200, prn + 200);
  if (prn >= 301 && prn <= 336) return Numbered(Constellation::kGalileo, prn - 300, prn);
  if (prn >= 401 && prn <= 463) return Numbered(Constellation::kBeidou, prn - 400, prn);
  return std::nullopt;
}

// A system's own number, whichever of its ranges the receiver used; `base` is gpsd's offset.
int SvidIn(int prn, int base, int within) {
  return prn > base && prn <= base + within ? prn - base : prn;
}

}  // namespace

std::optional<SatelliteId> SatelliteOf(std::array<char, 2> talker, int nmea_prn,
                                       std::optional<int> system_id) {
  const auto system =
      system_id ? ConstellationOfSystemId(*system_id) : ConstellationOfTalker(talker);
  if (!system || *system == Constellation::kGps) return ByRange(nmea_prn);
  int svid = 0;
  switch (*system) {
    case Constellation::kGlonass:
      svid = SvidIn(nmea_prn, 64, 32);
      return svid >= 1 && svid <= 32 ? std::optional(Numbered(*system, svid, svid + 64))
                                     : std::nullopt;
    case Constellation::kGalileo:
      svid = SvidIn(nmea_prn, 300, 36);
      return svid >= 1 && svid <= 36 ? std::optional(Numbered(*system, svid, svid + 300))
                                     : std::nullopt;
    case Constellation::kBeidou:
      svid = SvidIn(SvidIn(nmea_prn, 400, 63), 200, 63);
      return svid >= 1 && svid <= 63 ? std::optional(Numbered(*system, svid, svid + 400))
                                     : std::nullopt;
    case Constellation::kQzss:
      svid = SvidIn(nmea_prn, 192, 10);
      return svid >= 1 && svid <= 10 ? std::optional(Numbered(*system, svid, svid + 192))
                                     : std::nullopt;
    case Constellation::kNavic:
      return nmea_prn >= 1 && nmea_prn <= 14
                 ? std::optional(Numbered(*system, nmea_prn, nmea_prn + 800))
                 : std::nullopt;
    default:
      return ByRange(nmea_prn);
  }
}

std::string TimeOfDayText(const std::optional<UtcTime>& time) {
  if (!time) return {};
  const int64_t seconds = time->microseconds / 1'000'000;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

std::string IsoTimeText(const std::optional<CalendarDate>& date,
                        const std::optional<UtcTime>& time) {
  if (!date || !time) return {};
  const int64_t seconds = time->microseconds / 1'000'000;
  const int milliseconds = static_cast<int>(time->microseconds / 1000 % 1000);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date->year, date->month,
                date->day, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  std::string iso = text;
  std::snprintf(text, sizeof text, ".%03dZ", milliseconds);
  return iso + text;
}

}  // namespace quorvane
