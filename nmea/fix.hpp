#pragma once
// One reporting cycle of a receiver as numbers: everything the cycle's sentences said, merged.
// A value the cycle did not carry is absent, never 0; a cycle without a fix has no position.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fix_record.hpp"
#include "sentences.hpp"

namespace quorvane {

// As gpsd numbers them, so that its clients read them unchanged.
enum class FixMode : uint8_t { kUnknown = 0, kNoFix = 1, k2D = 2, k3D = 3 };
enum class FixStatus : uint8_t {
  kUnknown = 0,
  kAutonomous = 1,
  kDifferential = 2,
  kRtkFixed = 3,
  kRtkFloat = 4,
  kDeadReckoning = 5,  // estimated
  kSimulated = 8,
};
// gpsd's gnssid.
enum class Constellation : uint8_t {
  kGps = 0,
  kSbas = 1,
  kGalileo = 2,
  kBeidou = 3,
  kImes = 4,
  kQzss = 5,
  kGlonass = 6,
  kNavic = 7,
};

// A satellite as gpsd names it: its constellation, its number within it, and the one number
// ("PRN") that tells all satellites apart.
struct SatelliteId {
  Constellation constellation = Constellation::kGps;
  // Small, so that a SatelliteId, optional or not, travels in one register.
  int16_t svid = 0;
  int16_t prn = 0;

  bool operator==(const SatelliteId&) const = default;
};

struct SatelliteInView {
  SatelliteId id;
  std::optional<double> elevation;
  std::optional<double> azimuth;
  std::optional<double> snr;
  bool used = false;

  bool operator==(const SatelliteInView&) const = default;
};

struct Fix {
  std::optional<CalendarDate> date;  // absent until a RMC or ZDA has said it
  std::optional<UtcTime> time;
  FixMode mode = FixMode::kUnknown;
  FixStatus status = FixStatus::kUnknown;

  std::optional<double> latitude;   // degrees, south negative
  std::optional<double> longitude;  // degrees, west negative
  std::optional<double> altitude_msl;
  std::optional<double> geoid_separation;
  std::optional<double> altitude_hae;  // above the ellipsoid
  std::optional<double> speed;         // m/s over ground
  std::optional<double> course;        // degrees true
  std::optional<double> magnetic_variation;
  std::optional<double> climb;  // m/s, from the altitudes of successive fixes

  std::optional<double> hdop;
  std::optional<double> vdop;
  std::optional<double> pdop;
  // Satellites used: GSA's list when the cycle had one, else GGA's or GNS's count.
  std::optional<int> satellites_used;
  std::vector<SatelliteId> used;
  std::vector<SatelliteInView> in_view;

  // GST's one-sigma errors, metres.
  std::optional<double> latitude_error;
  std::optional<double> longitude_error;
  std::optional<double> altitude_error;

  // When the cycle's first sentence arrived, by the computer's clock: what a time server
  // compares the receiver's time with.
  std::optional<std::chrono::system_clock::time_point> received;

  bool HasFix() const { return mode == FixMode::k2D || mode == FixMode::k3D; }
};

// The moment the epoch names (its date and time, UTC), when it has both.
std::optional<std::chrono::system_clock::time_point> UtcTimePoint(const Fix& fix);

// "2026-12-08T12:00:00.500Z", to the millisecond as gpsd writes it, or empty when the date or
// the time is unknown.
std::string IsoTimeText(const std::optional<CalendarDate>& date,
                        const std::optional<UtcTime>& time);
// The same text into `iso`, its room reused (every GGA of a track makes one).
void AssignIsoTimeText(const std::optional<CalendarDate>& date, const std::optional<UtcTime>& time,
                       std::string& iso);
// The same text appended to `text`; false, and nothing appended, when it would be empty.
bool AppendIsoTimeText(const std::optional<CalendarDate>& date, const std::optional<UtcTime>& time,
                       std::string& text);
inline std::string IsoTimeText(const Fix& fix) {
  return IsoTimeText(fix.date, fix.time);
}
// "12:00:00" (UTC), or empty.
std::string TimeOfDayText(const std::optional<UtcTime>& time);
// The same "hh:mm:ss" over the eight characters of `text` from `at` (every epoch and every track
// point writes one: no printf, no text of its own).
void PutTimeOfDay(std::string& text, size_t at, UtcTime time);

// The satellite a sentence of `talker` numbers `nmea_prn` (with NMEA 4.10's system id when the
// sentence had one).
std::optional<SatelliteId> SatelliteOf(std::array<char, 2> talker, int nmea_prn,
                                       std::optional<int> system_id);
// The same in two steps, for the many satellites of one sentence: the system the sentence speaks
// of, then each satellite it numbers.
std::optional<Constellation> SystemOfSentence(std::array<char, 2> talker,
                                              std::optional<int> system_id);
std::optional<SatelliteId> SatelliteOf(std::optional<Constellation> system, int nmea_prn);

}  // namespace quorvane
