#pragma once

// The window's faces. The layout is fixed in twips at 15 twips per pixel, so
// sizes are set in pixels at 96 dots per inch: the same on every display.

#include <QFont>

namespace fonts {

// FreeSans stands in for 8.25-point "MS Sans Serif" and FreeSerif for
// 24-point "MS Serif" (Debian's fonts-freefont-ttf): their widths of the
// window's texts are within 3 pixels of the original's.
inline constexpr const char* kSansFamily = "FreeSans";
inline constexpr const char* kSerifFamily = "FreeSerif";
inline constexpr int kSansPixels = 11;   // 8.25 points
inline constexpr int kTitlePixels = 32;  // 24 points

QFont Sans();
QFont TitleSerif();

}  // namespace fonts
