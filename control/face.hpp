#pragma once
// The control's face: a built-in 32 x 32 picture, 24 bits per pixel, rows top to bottom, each
// pixel red, green, blue; and the site that holds the control at that size.

#include <array>
#include <cstdint>

namespace quorvane {

struct Face {
  static constexpr int kWidth = 32;
  static constexpr int kHeight = 32;
  static constexpr int kBitsPerPixel = 24;
  std::array<std::uint8_t, kWidth * kHeight * 3> rgb{};
};

// A globe with a grid of meridians and parallels and a red position mark at its centre.
const Face& TheFace();

// The container the control sits in, measured in twips.
class ControlSite {
 public:
  virtual ~ControlSite() = default;
  virtual float TwipsPerPixelX() const = 0;
  virtual float TwipsPerPixelY() const = 0;
  virtual void Width(float twips) = 0;
  virtual void Height(float twips) = 0;
};

}  // namespace quorvane
