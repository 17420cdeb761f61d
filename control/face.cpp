#include "control/face.hpp"

#include <cmath>
#include <cstdlib>

namespace quorvane {
namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

constexpr Rgb kBackground{16, 24, 48};
constexpr Rgb kOcean{24, 110, 170};
constexpr Rgb kGrid{200, 230, 250};
constexpr Rgb kMark{220, 30, 30};

Rgb PixelAt(int x, int y) {
  // Centre of the globe between pixels 15 and 16; radius 14 pixels.
  const double dx = x - 15.5;
  const double dy = y - 15.5;
  const double distance = std::sqrt(dx * dx + dy * dy);
  if (distance > 14.0) return kBackground;
  if (std::abs(dx) < 2.0 && std::abs(dy) < 2.0) return kMark;
  const bool parallel = y == 8 || y == 15 || y == 23;
  const bool meridian = x == 15 || std::abs(dx * dx / 49.0 + dy * dy / 196.0 - 1.0) < 0.08;
  return parallel || meridian ? kGrid : kOcean;
}

Face Draw() {
  Face face;
  for (int y = 0; y < Face::kHeight; ++y) {
    for (int x = 0; x < Face::kWidth; ++x) {
      const Rgb pixel = PixelAt(x, y);
      const size_t offset = static_cast<size_t>((y * Face::kWidth + x) * 3);
      face.rgb[offset] = pixel.r;
      face.rgb[offset + 1] = pixel.g;
      face.rgb[offset + 2] = pixel.b;
    }
  }
  return face;
}

}  // namespace

const Face& TheFace() {
  static const Face face = Draw();
  return face;
}

}  // namespace quorvane
