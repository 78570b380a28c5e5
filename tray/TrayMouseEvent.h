#pragma once

// Decoding of the mouse messages that reach the window from the tray icon,
// and the tip field of the icon record; plain functions, no display needed.

#include <cstdint>
#include <string>
#include <string_view>

namespace mdlTray {

enum class CoordinateUnit { Pixel, Twip };

// Mouse message numbers (WM_* in <windows.h>, which makes those names macros).
inline constexpr std::int32_t kMouseMove = 0x200;
inline constexpr std::int32_t kLeftButtonUp = 0x202;
inline constexpr std::int32_t kLeftButtonDoubleClick = 0x203;
inline constexpr std::int32_t kRightButtonUp = 0x205;
inline constexpr std::int32_t kMiddleButtonUp = 0x208;

inline constexpr std::int16_t kNoRelease = 0;
inline constexpr std::int16_t kRightRelease = 1;
inline constexpr std::int16_t kLeftRelease = 2;

inline constexpr double kTwipsPerPixel = 15.0;

// The mouse code of a mouse move at x: 2 when x carries a left-button release,
// 1 for a right-button release, 0 for anything else. Never fails.
std::int16_t TrayMouseEvent(double x, CoordinateUnit unit, double twipsPerPixel);

inline constexpr std::size_t kTipLength = 64;

// The tip field: the tip and one NUL, cut or space-padded to 64 characters.
std::u16string TipField(std::u16string_view tip);

// The text the field shows: up to its NUL.
std::u16string_view TipText(std::u16string_view field);

}  // namespace mdlTray
