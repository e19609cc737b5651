// Size, place, shape and opacity of the confirmation window. Every measure is
// given for 96 DPI (100 %) and scaled by the window's own DPI.
#pragma once

#include <cstdint>

namespace tavu {

inline constexpr std::uint32_t kBaseDpi = 96;

// Windows scales to 500 % at most; a DPI beyond ten times that is no display's.
inline constexpr std::uint32_t kMaxDpi = 4800;

// A 96-DPI measure at the given DPI, rounded half away from zero as MulDiv
// rounds (15 at 144 DPI is 23, -7 is -11). At 96 DPI every value is itself.
// The window's measures lie within +-65535, so with the DPI held to kMaxDpi
// the product fits 32 bits, and the 32-bit programs need no 64-bit division.
inline constexpr std::int32_t Scaled(std::int32_t value, std::uint32_t dpi) {
  const std::int32_t v = value > 65535 ? 65535 : value < -65535 ? -65535 : value;
  const std::int32_t product = v * static_cast<std::int32_t>(dpi > kMaxDpi ? kMaxDpi : dpi);
  const std::int32_t base = static_cast<std::int32_t>(kBaseDpi);
  return product >= 0 ? (product + base / 2) / base : -((-product + base / 2) / base);
}

inline constexpr std::int32_t kWindowWidth = 530;
inline constexpr std::int32_t kWindowHeight = 250;
inline constexpr std::uint8_t kWindowAlpha = 229;  // of 255
// High contrast asks for what is drawn to be seen as drawn.
inline constexpr std::uint8_t kOpaqueAlpha = 255;

struct WindowSize {
  std::int32_t width;
  std::int32_t height;
};
inline constexpr WindowSize ScaledWindowSize(std::uint32_t dpi) {
  return {Scaled(kWindowWidth, dpi), Scaled(kWindowHeight, dpi)};
}

// Only this rounded rectangle is visible and takes the mouse; it lies inside
// the 530 x 225 panel bitmap.
struct RoundRegion {
  std::int32_t left, top, right, bottom, ellipseWidth, ellipseHeight;
};
inline constexpr RoundRegion kWindowRegion{15, 15, 516, 210, 24, 24};
inline constexpr RoundRegion ScaledRegion(std::uint32_t dpi) {
  return {Scaled(kWindowRegion.left, dpi),         Scaled(kWindowRegion.top, dpi),
          Scaled(kWindowRegion.right, dpi),        Scaled(kWindowRegion.bottom, dpi),
          Scaled(kWindowRegion.ellipseWidth, dpi), Scaled(kWindowRegion.ellipseHeight, dpi)};
}

struct WindowOrigin {
  std::int32_t x;
  std::int32_t y;
};

// Centred on the primary screen with integer halving (toward zero), so an odd
// screen size puts the window half a pixel up and to the left. The screen is
// measured in the same pixels as the window: physical ones, for a window that
// is aware of its monitor's DPI.
inline constexpr WindowOrigin CentredWindowOrigin(std::int32_t screenWidth, std::int32_t screenHeight,
                                                  std::uint32_t dpi = kBaseDpi) {
  const WindowSize size = ScaledWindowSize(dpi);
  return {screenWidth / 2 - size.width / 2, screenHeight / 2 - size.height / 2};
}

}  // namespace tavu
