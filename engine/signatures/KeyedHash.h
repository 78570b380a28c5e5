#pragma once

// SipHash-1-3 under a key drawn once per process from the system's random
// source. Index hashes of attacker-chosen digests use it, so that nobody can
// craft a signature file whose entries share one probe sequence.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace qirn {

struct HashKey {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

// The same random key for the whole life of the process.
const HashKey& ProcessHashKey();

namespace sip_detail {

inline void Round(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3)
{
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
}

inline std::uint64_t LoadLittle64(const std::uint8_t* bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

}  // namespace sip_detail

// SipHash-c-d of bytes under key: c compression rounds per 8-byte word, d
// finalisation rounds.
template <int C, int D>
std::uint64_t SipHash(const HashKey& key, std::span<const std::uint8_t> bytes)
{
    using sip_detail::Round;
    std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ULL;
    std::uint64_t v1 = key.k1 ^ 0x646f72616e646f6dULL;
    std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ULL;
    std::uint64_t v3 = key.k1 ^ 0x7465646279746573ULL;
    const std::size_t whole = bytes.size() & ~std::size_t{7};
    for (std::size_t at = 0; at < whole; at += 8) {
        const std::uint64_t word = sip_detail::LoadLittle64(bytes.data() + at);
        v3 ^= word;
        for (int i = 0; i < C; ++i)
            Round(v0, v1, v2, v3);
        v0 ^= word;
    }
    std::uint64_t last = static_cast<std::uint64_t>(bytes.size()) << 56;
    for (std::size_t at = whole; at < bytes.size(); ++at)
        last |= static_cast<std::uint64_t>(bytes[at]) << (8 * (at - whole));
    v3 ^= last;
    for (int i = 0; i < C; ++i)
        Round(v0, v1, v2, v3);
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < D; ++i)
        Round(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

// The index hash: SipHash-1-3, the variant hash tables use for speed.
inline std::uint64_t KeyedHash(const HashKey& key, std::span<const std::uint8_t> bytes)
{
    return SipHash<1, 3>(key, bytes);
}

}  // namespace qirn
