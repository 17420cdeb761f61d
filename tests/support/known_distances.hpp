#pragma once
// One degree of arc on the control's sphere, in each unit its distance methods give, and how
// near each interface (the geometry, the control, the C interface) must come to it.

namespace quorvane::testing {

struct OneDegree {
  static constexpr double kMetres = 111189.566;
  static constexpr double kFeet = 364795.162;
  static constexpr double kMiles = 69.0899929;
  static constexpr double kMetresAndFeetNear = 0.001;
  static constexpr double kMilesNear = 1e-7;
};

}  // namespace quorvane::testing
