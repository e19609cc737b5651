// Size, place, shape and opacity of the confirmation window.
#pragma once

#include <cstdint>

namespace tavu {

inline constexpr std::int32_t kWindowWidth = 530;
inline constexpr std::int32_t kWindowHeight = 250;
inline constexpr std::uint8_t kWindowAlpha = 229;  // of 255

// Only this rounded rectangle is visible and takes the mouse; it lies inside
// the 530 x 225 panel bitmap.
struct RoundRegion {
  std::int32_t left, top, right, bottom, ellipseWidth, ellipseHeight;
};
inline constexpr RoundRegion kWindowRegion{15, 15, 516, 210, 24, 24};

struct WindowOrigin {
  std::int32_t x;
  std::int32_t y;
};

// Centred on the primary screen with integer halving (toward zero), so an odd
// screen size puts the window half a pixel up and to the left.
inline constexpr WindowOrigin CentredWindowOrigin(std::int32_t screenWidth, std::int32_t screenHeight) {
  return {screenWidth / 2 - kWindowWidth / 2, screenHeight / 2 - kWindowHeight / 2};
}

}  // namespace tavu
