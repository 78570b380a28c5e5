#include "engine/scan/DigestLookup.h"

#include <chrono>

namespace qirn {

std::int64_t WallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace qirn
