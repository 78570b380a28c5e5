#include "engine/signatures/KeyedHash.h"

#include "engine/platform/SystemRandom.h"

#include <array>
#include <cstddef>

namespace qirn {

const HashKey& ProcessHashKey()
{
    static const HashKey key = [] {
        std::array<std::byte, 16> bytes{};
        FillFromSystemRandom(bytes);
        HashKey drawn;
        std::memcpy(&drawn.k0, bytes.data(), 8);
        std::memcpy(&drawn.k1, bytes.data() + 8, 8);
        return drawn;
    }();
    return key;
}

}  // namespace qirn
