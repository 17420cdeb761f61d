#pragma once
// Great-circle distance by the spherical law of cosines, on the sphere on which one minute of
// arc is 1.1515 statute miles. The constants, pi included, are the control's own nine- and
// ten-digit values, so results match what hosts of this control have always been given.
//
// Nothing here fails: an operation whose arithmetic overflows or is invalid keeps the value it
// had before that step (0 before the first), and the angle helpers return 0.

namespace quorvane {

inline constexpr double kPi = 3.14159265;

double DegToRad(double x);
double RadToDeg(double x);
// arccos through arctan: pi and 0 at -1 and 1 exactly, 0 beyond them.
double ArcCos(double x);

// A position a track can hold: a latitude within ±90°, a longitude within ±180°, both finite.
bool OnTheGlobe(double latitude, double longitude);

// A position with the sine and cosine of its latitude worked out once: along a run of legs
// (an odometer) each position's are worked out once, not for both legs it ends and begins.
struct GlobePoint {
  double latitude = 0;
  double longitude = 0;
  double sine = 0;  // of the latitude
  double cosine = 0;
};
GlobePoint PointOnGlobe(double latitude, double longitude);
// The same metres as DistanceBetween2CoordinatesMeters(from's, to's).
double MetresBetween(const GlobePoint& from, const GlobePoint& to);

// Exactly 0 when both positions are equal.
double DistanceBetween2CoordinatesMeters(double lat1, double lon1, double lat2, double lon2);
double DistanceBetween2CoordinatesFoots(double lat1, double lon1, double lat2, double lon2);
double DistanceBetween2CoordinatesMiles(double lat1, double lon1, double lat2, double lon2);

}  // namespace quorvane
