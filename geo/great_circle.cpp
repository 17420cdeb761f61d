#include "geo/great_circle.hpp"

#include <cmath>

namespace quorvane {
namespace {

constexpr double kHalfTurnDegrees = 180;
constexpr double kMinutesPerDegree = 60;
constexpr double kMilesPerMinuteOfArc = 1.1515;
constexpr double kKilometresPerMile = 1.609344;
constexpr double kMetresPerKilometre = 1000;
constexpr double kFeetPerMetre = 3.280839895013;
constexpr double kMilesPerMetre = 0.0006213711922373;

// A step's result, or what the value held before the step when the arithmetic failed.
double Checked(double result, double before) {
  return std::isfinite(result) ? result : before;
}

// The metres between two positions, without the equal-points shortcut.
double ArcMetres(const GlobePoint& a, const GlobePoint& b) {
  const double theta = Checked(a.longitude - b.longitude, 0);
  const double cosine =
      Checked(a.sine * b.sine + a.cosine * b.cosine * std::cos(DegToRad(theta)), 0);
  const double degrees = Checked(RadToDeg(ArcCos(cosine)), 0);
  double distance = Checked(degrees * kMinutesPerDegree * kMilesPerMinuteOfArc, 0);
  distance = Checked(distance * kKilometresPerMile * kMetresPerKilometre, distance);
  return distance;
}

}  // namespace

double DegToRad(double x) {
  return Checked((x * kPi) / kHalfTurnDegrees, 0);
}

double RadToDeg(double x) {
  return Checked((x * kHalfTurnDegrees) / kPi, 0);
}

double ArcCos(double x) {
  if (x == -1) return kPi;
  if (x == 1) return 0;
  const double complement = 1 - x * x;
  if (!(complement > 0)) return 0;
  return Checked(kPi / 2 - std::atan(x / std::sqrt(complement)), 0);
}

GlobePoint PointOnGlobe(double latitude, double longitude) {
  return {latitude, longitude, std::sin(DegToRad(latitude)), std::cos(DegToRad(latitude))};
}

double MetresBetween(const GlobePoint& from, const GlobePoint& to) {
  if (from.latitude == to.latitude && from.longitude == to.longitude) return 0;
  return ArcMetres(from, to);
}

double DistanceBetween2CoordinatesMeters(double lat1, double lon1, double lat2, double lon2) {
  return MetresBetween(PointOnGlobe(lat1, lon1), PointOnGlobe(lat2, lon2));
}

double DistanceBetween2CoordinatesFoots(double lat1, double lon1, double lat2, double lon2) {
  return Checked(ArcMetres(PointOnGlobe(lat1, lon1), PointOnGlobe(lat2, lon2)) * kFeetPerMetre, 0);
}

double DistanceBetween2CoordinatesMiles(double lat1, double lon1, double lat2, double lon2) {
  return Checked(ArcMetres(PointOnGlobe(lat1, lon1), PointOnGlobe(lat2, lon2)) * kMilesPerMetre, 0);
}

bool OnTheGlobe(double latitude, double longitude) {
  return std::abs(latitude) <= 90 && std::abs(longitude) <= 180;  // false for NaN too
}

}  // namespace quorvane
