#include "tray/TrayMouseEvent.h"

#include <cmath>
#include <limits>

namespace mdlTray {

std::int16_t TrayMouseEvent(double x, CoordinateUnit unit, double twipsPerPixel)
{
    const double scaled = unit == CoordinateUnit::Pixel ? x : x / twipsPerPixel;
    std::int32_t message = 0;
    // A value with no 32-bit integer nearest to it leaves the message at 0.
    if (std::isfinite(scaled)) {
        const double rounded = std::nearbyint(scaled);  // halves to even
        if (rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max())
            message = static_cast<std::int32_t>(rounded);
    }
    if (message == kLeftButtonUp)
        return kLeftRelease;
    if (message == kRightButtonUp)
        return kRightRelease;
    return kNoRelease;
}

std::u16string TipField(std::u16string_view tip)
{
    std::u16string field(tip);
    field += u'\0';
    field.resize(kTipLength, u' ');
    return field;
}

std::u16string_view TipText(std::u16string_view field)
{
    return field.substr(0, field.find(u'\0'));
}

}  // namespace mdlTray
