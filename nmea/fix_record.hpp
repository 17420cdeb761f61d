#pragma once
// Everything the control knows about the receiver's position, time and satellites. What the
// decoder computes (coordinates, speed, local time, the odometer) is kept as numbers, and the
// properties make their texts when they are read; fields taken over from a sentence unchanged
// are kept as the text received. Each sentence type overwrites only its own members, so the
// record holds the latest value of each, from whichever sentence last carried it.

#include <cstdint>
#include <optional>
#include <string>

#include "../base/time_of_day.hpp"

namespace quorvane {

// What decoding one sentence wrote into the record, one bit a group of members, as gpsd's
// decoders report it. A bit says the members were written, not that their values differ.
enum FixChange : uint16_t {
  kPositionChanged = 1 << 0,    // latitude, longitude, fix quality, the last GGA
  kTimeChanged = 1 << 1,        // UTC and local time of day, or the date
  kSpeedChanged = 1 << 2,       // speed over ground
  kAltitudeChanged = 1 << 3,    // altitude and its unit
  kSatellitesChanged = 1 << 4,  // satellites in use
  kDopChanged = 1 << 5,         // horizontal and vertical dilution of precision
  kSignalChanged = 1 << 6,      // elevation, azimuth and SNR of the first satellite in view
};
using FixChanges = uint16_t;

struct CalendarDate {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31

  bool operator==(const CalendarDate&) const = default;
};

struct FixRecord {
  // Computed by the decoder.
  std::optional<double> latitude{};   // decimal degrees, south negative; set by every GGA
  std::optional<double> longitude{};  // decimal degrees, west negative
  // The last GGA had both hemisphere fields, and neither empty: the receiver reported a position.
  bool position_reported = false;
  std::optional<double> altitude{};       // AltitudeText when it is exactly one number
  std::optional<double> speed_kmh{};      // from the last RMC
  std::optional<TimeOfDay> local_time{};  // hour and minute moved by the UTC offset
  double OdometerTotal = 0;               // metres, two decimals

  // As received.
  std::optional<std::string> utc_time_field{};  // GGA field 1, hhmmss[.ss]
  std::string AltitudeText{};                   // GGA field 9
  std::string AltitudeUnitText{};               // GGA field 10
  std::string SatellitesText{};                 // GGA field 7
  std::string QualityText{};                    // GGA field 6, or "0" without a position
  std::string LastGgaText{};    // the last GGA sentence with a position, CR included
  std::string HdopText{};       // GSA field 16
  std::string VdopText{};       // GSA field 17 up to its "*"
  std::string ElevationText{};  // GSV field 5
  std::string AzimuthText{};    // GSV field 6
  std::string SnrText{};        // GSV field 7 up to a "*"

  bool operator==(const FixRecord&) const = default;
};

}  // namespace quorvane
