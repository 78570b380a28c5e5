#include "engine/signatures/KeyedHash.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>

namespace qirn {
namespace {

TEST(KeyedHashTest, SipHashMatchesTheReferenceVector)
{
    // The SipHash paper's example: key 00..0f, message 00..0e, SipHash-2-4.
    const HashKey key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
    std::array<std::uint8_t, 15> message{};
    std::iota(message.begin(), message.end(), std::uint8_t{0});
    EXPECT_EQ((SipHash<2, 4>(key, message)), 0xa129ca6149be45e5ULL);
    EXPECT_NE(KeyedHash(key, message), KeyedHash(HashKey{key.k0 + 1, key.k1}, message));
}

}  // namespace
}  // namespace qirn
