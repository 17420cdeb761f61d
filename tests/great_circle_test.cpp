#include "geo/great_circle.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/known_distances.hpp"

namespace quorvane {
namespace {

using testing::OneDegree;

TEST(GreatCircle, OneDegreeAlongTheEquatorOrAMeridian) {
  for (const auto& [lat2, lon2] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}}) {
    EXPECT_NEAR(DistanceBetween2CoordinatesMeters(0, 0, lat2, lon2), OneDegree::kMetres,
                OneDegree::kMetresAndFeetNear);
    EXPECT_NEAR(DistanceBetween2CoordinatesFoots(0, 0, lat2, lon2), OneDegree::kFeet,
                OneDegree::kMetresAndFeetNear);
    EXPECT_NEAR(DistanceBetween2CoordinatesMiles(0, 0, lat2, lon2), OneDegree::kMiles,
                OneDegree::kMilesNear);
  }
}

TEST(GreatCircle, AntipodesAreHalfTheCircumferenceOfTheControlsSphere) {
  const double half_circle = 180 * 60 * 1.1515 * 1.609344 * 1000;  // 20014123.8528
  EXPECT_DOUBLE_EQ(DistanceBetween2CoordinatesMeters(90, 0, -90, 0), half_circle);
  EXPECT_DOUBLE_EQ(DistanceBetween2CoordinatesMeters(0, 0, 0, 180), half_circle);
  EXPECT_NEAR(half_circle, 20014123.8528, 1e-6);
}

TEST(GreatCircle, EqualPointsAreExactlyZeroMetresAndOrderDoesNotMatter) {
  EXPECT_EQ(DistanceBetween2CoordinatesMeters(48.1173, 11.5166666666667, 48.1173, 11.5166666666667),
            0.0);
  // Feet and miles run the full formula and land on zero or a fraction of a foot.
  EXPECT_LT(DistanceBetween2CoordinatesFoots(48.1173, 11.5, 48.1173, 11.5), 1.0);
  EXPECT_GE(DistanceBetween2CoordinatesMiles(48.1173, 11.5, 48.1173, 11.5), 0.0);
  EXPECT_EQ(DistanceBetween2CoordinatesMeters(48.1, 11.5, -33.8675, -151.21),
            DistanceBetween2CoordinatesMeters(-33.8675, -151.21, 48.1, 11.5));
}

TEST(GreatCircle, MilesPassThroughMetres) {
  const double metres = DistanceBetween2CoordinatesMeters(0, 0, 0, 1);
  EXPECT_EQ(DistanceBetween2CoordinatesMiles(0, 0, 0, 1), metres * 0.0006213711922373);
  EXPECT_EQ(DistanceBetween2CoordinatesFoots(0, 0, 0, 1), metres * 3.280839895013);
  EXPECT_NE(DistanceBetween2CoordinatesMiles(0, 0, 0, 1), 69.09);
}

TEST(GreatCircle, OutOfRangeDegreesGoThroughTheSameFormula) {
  EXPECT_EQ(DistanceBetween2CoordinatesMeters(200, -500, 20, 220),
            DistanceBetween2CoordinatesMeters(20, 220, 200, -500));
  EXPECT_GT(DistanceBetween2CoordinatesMeters(200, -500, 0, 0), 0);
}

TEST(GreatCircle, FailedArithmeticGivesNumbersNotErrors) {
  const double huge = std::numeric_limits<double>::max();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(DegToRad(huge), 0);  // the product overflows
  EXPECT_EQ(RadToDeg(huge), 0);
  EXPECT_EQ(DegToRad(nan), 0);
  // A latitude that cannot be turned into radians counts as 0 degrees.
  EXPECT_EQ(DistanceBetween2CoordinatesMeters(huge, 0, 0, 1),
            DistanceBetween2CoordinatesMeters(0, 0, 0, 1));
  for (const double bad : {nan, huge, -huge, std::numeric_limits<double>::infinity()}) {
    EXPECT_TRUE(std::isfinite(DistanceBetween2CoordinatesMeters(bad, bad, 1, 2)));
    EXPECT_TRUE(std::isfinite(DistanceBetween2CoordinatesFoots(1, 2, bad, 0)));
    EXPECT_TRUE(std::isfinite(DistanceBetween2CoordinatesMiles(0, bad, bad, 3)));
  }
}

TEST(ArcCos, HasThreeCases) {
  EXPECT_EQ(ArcCos(-1), kPi);
  EXPECT_EQ(ArcCos(1), 0);
  EXPECT_EQ(ArcCos(1.0000000000000002), 0);  // rounding pushed the cosine sum above 1
  EXPECT_EQ(ArcCos(-1.5), 0);
  EXPECT_DOUBLE_EQ(ArcCos(0), kPi / 2);
  EXPECT_NEAR(ArcCos(0.5), 1.0471975511965976, 1e-8);  // the short pi shows in the last digits
  EXPECT_DOUBLE_EQ(DegToRad(180), 3.14159265);
  EXPECT_DOUBLE_EQ(RadToDeg(3.14159265), 180);
}

}  // namespace
}  // namespace quorvane
