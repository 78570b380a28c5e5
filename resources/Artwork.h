#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

// The window's built-in artwork.
namespace Artwork {

// 420 x 463 pixels.
QPixmap Background();
// 16, 20 and 24 pixels, with a larger image for high-density screens.
QIcon WindowIcon();
// The 32 x 32 pointing hand, hot spot at the fingertip (12, 1).
QCursor HandCursor();

inline constexpr int kHandHotX = 12;
inline constexpr int kHandHotY = 1;

}  // namespace Artwork
