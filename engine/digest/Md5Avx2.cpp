// MD5 of 8 messages at once in AVX2 registers; compiled for AVX2 function by
// function, so that the rest of the program stays generic x86-64.

#include "engine/digest/Md5LaneKernels.h"
#include "engine/digest/Md5Steps.h"

#include <immintrin.h>

namespace qirn {

namespace {

using namespace md5steps;
using Vector = __m256i;
constexpr std::size_t kLanes = 8;

#define QIRN_AVX2 __attribute__((target("avx2")))
#define QIRN_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

template <std::size_t I>
QIRN_AVX2_INLINE Vector Rotate(Vector x)
{
    return _mm256_or_si256(_mm256_slli_epi32(x, Rotation(I)), _mm256_srli_epi32(x, 32 - Rotation(I)));
}

// One step; b, c and d are the words that play those roles.
template <std::size_t I>
QIRN_AVX2_INLINE Vector Step(Vector a, Vector b, Vector c, Vector d, const Vector* words)
{
    Vector f;
    if constexpr (I < 16)
        f = _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
    else if constexpr (I < 32)
        f = _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)));
    else if constexpr (I < 48)
        f = _mm256_xor_si256(b, _mm256_xor_si256(c, d));
    else
        f = _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
    const Vector sum = _mm256_add_epi32(
        _mm256_add_epi32(a, f), _mm256_add_epi32(words[kMessageWord[I]], _mm256_set1_epi32(SineAsInt(I))));
    return _mm256_add_epi32(b, Rotate<I>(sum));
}

template <std::size_t I = 0>
QIRN_AVX2_INLINE void Steps(Vector* abcd, const Vector* words)
{
    if constexpr (I < kSteps) {
        abcd[Role(I, 0)] = Step<I>(abcd[Role(I, 0)], abcd[Role(I, 1)], abcd[Role(I, 2)], abcd[Role(I, 3)], words);
        Steps<I + 1>(abcd, words);
    }
}

// rows[l] holds 8 words of lane l; afterwards rows[w] holds word w of every lane.
QIRN_AVX2_INLINE void Transpose(Vector* rows)
{
    Vector pairs[8];
    for (std::size_t i = 0; i < 8; i += 2) {
        pairs[i] = _mm256_unpacklo_epi32(rows[i], rows[i + 1]);
        pairs[i + 1] = _mm256_unpackhi_epi32(rows[i], rows[i + 1]);
    }
    Vector quads[8];
    for (std::size_t i = 0; i < 8; i += 4) {
        quads[i] = _mm256_unpacklo_epi64(pairs[i], pairs[i + 2]);
        quads[i + 1] = _mm256_unpackhi_epi64(pairs[i], pairs[i + 2]);
        quads[i + 2] = _mm256_unpacklo_epi64(pairs[i + 1], pairs[i + 3]);
        quads[i + 3] = _mm256_unpackhi_epi64(pairs[i + 1], pairs[i + 3]);
    }
    for (std::size_t w = 0; w < 4; ++w) {
        rows[w] = _mm256_permute2x128_si256(quads[w], quads[w + 4], 0x20);
        rows[w + 4] = _mm256_permute2x128_si256(quads[w], quads[w + 4], 0x31);
    }
}

QIRN_AVX2 void Blocks(std::uint32_t* state, const std::byte* const* blocks, std::size_t count)
{
    Vector abcd[4];
    for (std::size_t i = 0; i < 4; ++i)
        abcd[i] = _mm256_loadu_si256(reinterpret_cast<const Vector*>(state + i * kLanes));
    for (std::size_t block = 0; block < count; ++block) {
        const std::size_t offset = block * 64;
        Vector words[16];
        for (std::size_t half = 0; half < 2; ++half) {
            for (std::size_t lane = 0; lane < kLanes; ++lane)
                words[half * 8 + lane] =
                    _mm256_loadu_si256(reinterpret_cast<const Vector*>(blocks[lane] + offset + half * 32));
            Transpose(words + half * 8);
        }
        const Vector before[4] = {abcd[0], abcd[1], abcd[2], abcd[3]};
        Steps(abcd, words);
        for (std::size_t i = 0; i < 4; ++i)
            abcd[i] = _mm256_add_epi32(abcd[i], before[i]);
    }
    for (std::size_t i = 0; i < 4; ++i)
        _mm256_storeu_si256(reinterpret_cast<Vector*>(state + i * kLanes), abcd[i]);
}

}  // namespace

void Md5Avx2Kernel(std::uint32_t* state, const std::byte* const* blocks, std::size_t count)
{
    Blocks(state, blocks, count);
}

}  // namespace qirn
