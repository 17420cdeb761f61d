#pragma once
// Everything the control knows about the receiver's position, time and satellites. Values are
// kept as the text the properties return; each sentence type overwrites only its own members,
// so the record holds the latest value of each, from whichever sentence last carried it.

#include <string>

namespace quorvane {

struct FixRecord {
  std::string LatitudeText{};        // decimal degrees, south negative
  std::string LongitudeText{};       // decimal degrees, west negative
  std::string PrevLatitudeText{};    // LatitudeText after the last GGA sentence
  std::string PrevLongitudeText{};   // LongitudeText after the last GGA sentence
  std::string AltitudeText{};        // GGA field 9 as received
  std::string AltitudeUnitText{};    // GGA field 10 as received
  std::string SatellitesText{};      // GGA field 7 as received
  std::string UtcTimeText{};         // hh:mm:ss
  std::string LocalTimeText{};       // hh:mm:ss, two digits each
  std::string LocalTimeClockText{};  // the computer clock's hh:mm:ss at the last local-time update
  std::string QualityText{};         // GGA field 6 as received, or "0" without a position
  std::string LastGgaText{};         // the last GGA sentence with a position, CR included
  std::string SpeedText{};           // km/h
  std::string HdopText{};            // GSA field 16 as received
  std::string VdopText{};            // GSA field 17 up to its "*"
  std::string ElevationText{};       // GSV field 5 as received
  std::string AzimuthText{};         // GSV field 6 as received
  std::string SnrText{};             // GSV field 7 up to a "*"
  double OdometerTotal = 0;          // metres, two decimals

  bool operator==(const FixRecord&) const = default;
};

}  // namespace quorvane
