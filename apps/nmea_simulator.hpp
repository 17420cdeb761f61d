#pragma once
// A simulated receiver on a drive: for every fix the mix a typical receiver sends at 1 Hz
// (GGA, RMC, GSA and three GSV sentences), with correct checksums and CR LF, along a route at a
// steady speed, with an optional stretch without a fix and optional position noise.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::simulator {

struct Waypoint {
  double latitude = 0;   // decimal degrees, north positive
  double longitude = 0;  // decimal degrees, east positive
};

struct DriveOptions {
  // Driven in order and back to the first point, again and again.
  std::vector<Waypoint> route;
  double speed_kmh = 50;
  double rate_hz = 1;
  double duration_s = 600;
  // UTC time of day (seconds) and date of the first fix.
  double start_utc_s = 12 * 3600;
  int day = 7, month = 12, year = 2026;
  double altitude_m = 520;
  // Seconds [from, to) after the start during which the receiver has no fix.
  std::optional<std::pair<double, double>> fix_loss_s;
  // Standard deviation of the position noise, metres.
  double noise_m = 0;
  uint32_t seed = 1;
};

// A loop of about 6 km through the centre of Munich.
std::vector<Waypoint> MunichLoop();

// "$" + body + "*" + checksum + CR LF.
std::string WithChecksum(std::string_view body);

class NmeaSimulator {
 public:
  explicit NmeaSimulator(DriveOptions options);

  size_t FixCount() const;
  double SecondsOf(size_t fix) const { return static_cast<double>(fix) / options_.rate_hz; }
  bool HasFix(size_t fix) const;
  // Where the vehicle really is at a fix, before any noise.
  Waypoint TruePosition(size_t fix) const;
  // Altitude at a fix, metres.
  double Altitude(size_t fix) const;
  // The sentences of one fix; fixes are meant to be taken in order (the noise is drawn as they
  // are made).
  std::string Sentences(size_t fix);

 private:
  double Heading(size_t fix) const;

  DriveOptions options_;
  std::vector<double> leg_start_m_;  // distance along the route at which each leg starts
  double loop_m_ = 0;
  std::mt19937 random_;
};

}  // namespace quorvane::simulator
