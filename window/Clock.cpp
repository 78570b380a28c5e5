#include "window/Clock.h"

#include <cstdio>

namespace qirn {

std::string ClockText(std::int64_t seconds)
{
    constexpr std::int64_t kDay = std::int64_t{24} * 60 * 60;
    const std::int64_t ofDay = (seconds % kDay + kDay) % kDay;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(ofDay / 3600),
        static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60));
    return text;
}

}  // namespace qirn
