#include "apps/nmea_simulator.hpp"

#include <cmath>
#include <cstdio>

namespace quorvane::simulator {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadiusM = 6371000;
constexpr double kKnotsPerKmh = 1 / 1.852;

double Radians(double degrees) {
  return degrees * kPi / 180;
}
double Degrees(double radians) {
  return radians * 180 / kPi;
}

double HaversineMetres(const Waypoint& a, const Waypoint& b) {
  const double dlat = Radians(b.latitude - a.latitude);
  const double dlon = Radians(b.longitude - a.longitude);
  const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(Radians(a.latitude)) * std::cos(Radians(b.latitude)) *
                       std::sin(dlon / 2) * std::sin(dlon / 2);
  return 2 * kEarthRadiusM * std::asin(std::sqrt(h));
}

Waypoint Between(const Waypoint& a, const Waypoint& b, double share) {
  return {a.latitude + (b.latitude - a.latitude) * share,
          a.longitude + (b.longitude - a.longitude) * share};
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  const int length = std::snprintf(text, sizeof text, format, args...);
  return std::string(text, static_cast<size_t>(length));
}

// ddmm.mmmm,N or dddmm.mmmm,E
std::string NmeaCoordinate(double degrees, int degree_digits, char positive, char negative) {
  const char hemisphere = degrees < 0 ? negative : positive;
  degrees = std::fabs(degrees);
  int whole = static_cast<int>(degrees);
  double minutes = (degrees - whole) * 60;
  if (minutes >= 59.99995) {  // would print as 60.0000
    ++whole;
    minutes = 0;
  }
  return Format(degree_digits == 2 ? "%02d%07.4f,%c" : "%03d%07.4f,%c", whole, minutes, hemisphere);
}

struct Satellite {
  int prn;
  double elevation;
  double azimuth;
  double snr;
};

}  // namespace

std::vector<Waypoint> MunichLoop() {
  return {{48.13743, 11.57549}, {48.14230, 11.56820}, {48.15030, 11.58150},
          {48.14400, 11.59800}, {48.13100, 11.59200}, {48.12890, 11.57550}};
}

std::string WithChecksum(std::string_view body) {
  unsigned char sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  std::string sentence = "$";
  sentence.append(body);
  sentence += Format("*%02X\r\n", sum);
  return sentence;
}

NmeaSimulator::NmeaSimulator(DriveOptions options)
    : options_(std::move(options)), random_(options_.seed) {
  if (options_.route.empty()) options_.route = MunichLoop();
  for (size_t i = 0; i < options_.route.size(); ++i) {
    leg_start_m_.push_back(loop_m_);
    loop_m_ += HaversineMetres(options_.route[i], options_.route[(i + 1) % options_.route.size()]);
  }
}

size_t NmeaSimulator::FixCount() const {
  return static_cast<size_t>(std::llround(options_.duration_s * options_.rate_hz));
}

bool NmeaSimulator::HasFix(size_t fix) const {
  const double t = SecondsOf(fix);
  return !options_.fix_loss_s || t < options_.fix_loss_s->first || t >= options_.fix_loss_s->second;
}

Waypoint NmeaSimulator::TruePosition(size_t fix) const {
  const auto& route = options_.route;
  if (loop_m_ == 0) return route.front();
  const double along = std::fmod(options_.speed_kmh / 3.6 * SecondsOf(fix), loop_m_);
  size_t leg = route.size() - 1;
  while (leg > 0 && leg_start_m_[leg] > along) --leg;
  const double leg_length =
      (leg + 1 < route.size() ? leg_start_m_[leg + 1] : loop_m_) - leg_start_m_[leg];
  const double share = leg_length > 0 ? (along - leg_start_m_[leg]) / leg_length : 0;
  return Between(route[leg], route[(leg + 1) % route.size()], share);
}

double NmeaSimulator::Altitude(size_t fix) const {
  return options_.altitude_m + 12 * std::sin(SecondsOf(fix) / 90);
}

double NmeaSimulator::Heading(size_t fix) const {
  const Waypoint here = TruePosition(fix);
  const Waypoint ahead = TruePosition(fix + 1);
  const double east = (ahead.longitude - here.longitude) * std::cos(Radians(here.latitude));
  const double north = ahead.latitude - here.latitude;
  const double heading = Degrees(std::atan2(east, north));
  return heading < 0 ? heading + 360 : heading;
}

std::string NmeaSimulator::Sentences(size_t fix) {
  const double t = SecondsOf(fix);
  // Whole hundredths, so that a time never rounds up to a 60th second.
  const long long hundredths = std::llround((options_.start_utc_s + t) * 100);
  const long long of_day = hundredths % 8'640'000;
  const int days = static_cast<int>(hundredths / 8'640'000);
  const std::string time = Format("%02lld%02lld%02lld.%02lld", of_day / 360'000, of_day / 6000 % 60,
                                  of_day / 100 % 60, of_day % 100);
  // The date moves on at midnight; months are taken as 28 days, which is enough for logs.
  const int day = (options_.day - 1 + days) % 28 + 1;
  const std::string date = Format("%02d%02d%02d", day, options_.month, options_.year % 100);

  std::string text;
  std::vector<Satellite> satellites;
  for (int i = 0; i < 11; ++i) {
    satellites.push_back({2 + i * 3, std::fmod(10 + i * 23 + t / 120, 80),
                          std::fmod(i * 33 + t / 60, 360), 25 + std::fmod(i * 7 + t / 30, 20)});
  }
  if (HasFix(fix)) {
    Waypoint position = TruePosition(fix);
    if (options_.noise_m > 0) {
      std::normal_distribution<double> noise(0, options_.noise_m);
      position.latitude += Degrees(noise(random_) / kEarthRadiusM);
      position.longitude +=
          Degrees(noise(random_) / (kEarthRadiusM * std::cos(Radians(position.latitude))));
    }
    const std::string latitude = NmeaCoordinate(position.latitude, 2, 'N', 'S');
    const std::string longitude = NmeaCoordinate(position.longitude, 3, 'E', 'W');
    text += WithChecksum("GPGGA," + time + "," + latitude + "," + longitude + ",1,08,0.9," +
                         Format("%.1f", Altitude(fix)) + ",M,46.9,M,,");
    text += WithChecksum("GPRMC," + time + ",A," + latitude + "," + longitude + "," +
                         Format("%05.1f,%05.1f,", options_.speed_kmh * kKnotsPerKmh, Heading(fix)) +
                         date + ",003.1,W");
    text += WithChecksum("GPGSA,A,3,02,05,08,11,14,17,20,23,,,,,1.8,0.9,1.6");
  } else {
    text += WithChecksum("GPGGA," + time + ",,,,,0,00,,,M,,M,,");
    text += WithChecksum("GPRMC," + time + ",V,,,,,,," + date + ",,");
    text += WithChecksum("GPGSA,A,1,,,,,,,,,,,,,,,");
    for (auto& satellite : satellites) satellite.snr = -1;
  }
  for (int sentence = 0; sentence < 3; ++sentence) {
    std::string gsv = Format("GPGSV,3,%d,11", sentence + 1);
    for (int i = sentence * 4; i < std::min(sentence * 4 + 4, 11); ++i) {
      const Satellite& s = satellites[static_cast<size_t>(i)];
      gsv += Format(",%02d,%02d,%03d,", s.prn, static_cast<int>(s.elevation),
                    static_cast<int>(s.azimuth));
      if (s.snr >= 0) gsv += Format("%02d", static_cast<int>(s.snr));
    }
    text += WithChecksum(gsv);
  }
  return text;
}

}  // namespace quorvane::simulator
