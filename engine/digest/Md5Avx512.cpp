// MD5 of 16 messages at once in AVX-512 registers; compiled for AVX-512F
// function by function, so that the rest of the program stays generic x86-64.

#include "engine/digest/Md5LaneKernels.h"
#include "engine/digest/Md5Steps.h"

#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start from a self-initialised "undefined"
// register, which its uninitialised-use warnings report once inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace qirn {

namespace {

using namespace md5steps;
using Vector = __m512i;
constexpr std::size_t kLanes = 16;

#define QIRN_AVX512 __attribute__((target("avx512f")))
#define QIRN_AVX512_INLINE __attribute__((target("avx512f"), always_inline)) inline

// The truth tables of F, G, H and I over (b, c, d) for vpternlogd.
constexpr int kF = 0xCA;  // b ? c : d
constexpr int kG = 0xE4;  // d ? b : c
constexpr int kH = 0x96;  // b ^ c ^ d
constexpr int kI = 0x39;  // c ^ (b | ~d)

template <std::size_t I>
QIRN_AVX512_INLINE Vector Step(Vector a, Vector b, Vector c, Vector d, const Vector* words)
{
    constexpr int kTable = I < 16 ? kF : I < 32 ? kG : I < 48 ? kH : kI;
    const Vector f = _mm512_ternarylogic_epi32(b, c, d, kTable);
    const Vector sum = _mm512_add_epi32(
        _mm512_add_epi32(a, f), _mm512_add_epi32(words[kMessageWord[I]], _mm512_set1_epi32(SineAsInt(I))));
    return _mm512_add_epi32(b, _mm512_rol_epi32(sum, Rotation(I)));
}

template <std::size_t I = 0>
QIRN_AVX512_INLINE void Steps(Vector* abcd, const Vector* words)
{
    if constexpr (I < kSteps) {
        abcd[Role(I, 0)] = Step<I>(abcd[Role(I, 0)], abcd[Role(I, 1)], abcd[Role(I, 2)], abcd[Role(I, 3)], words);
        Steps<I + 1>(abcd, words);
    }
}

// rows[l] holds the 16 words of lane l; afterwards rows[w] holds word w of every lane.
QIRN_AVX512_INLINE void Transpose(Vector* rows)
{
    Vector pairs[16];
    for (std::size_t i = 0; i < 16; i += 2) {
        pairs[i] = _mm512_unpacklo_epi32(rows[i], rows[i + 1]);
        pairs[i + 1] = _mm512_unpackhi_epi32(rows[i], rows[i + 1]);
    }
    // quads[g * 4 + j]: in its 128-bit part k, word 4k + j of lanes 4g to 4g + 3.
    Vector quads[16];
    for (std::size_t g = 0; g < 4; ++g) {
        const Vector* p = pairs + g * 4;
        quads[g * 4] = _mm512_unpacklo_epi64(p[0], p[2]);
        quads[g * 4 + 1] = _mm512_unpackhi_epi64(p[0], p[2]);
        quads[g * 4 + 2] = _mm512_unpacklo_epi64(p[1], p[3]);
        quads[g * 4 + 3] = _mm512_unpackhi_epi64(p[1], p[3]);
    }
    for (std::size_t j = 0; j < 4; ++j) {
        const Vector low01 = _mm512_shuffle_i32x4(quads[j], quads[4 + j], 0x44);
        const Vector high01 = _mm512_shuffle_i32x4(quads[j], quads[4 + j], 0xEE);
        const Vector low23 = _mm512_shuffle_i32x4(quads[8 + j], quads[12 + j], 0x44);
        const Vector high23 = _mm512_shuffle_i32x4(quads[8 + j], quads[12 + j], 0xEE);
        rows[j] = _mm512_shuffle_i32x4(low01, low23, 0x88);
        rows[4 + j] = _mm512_shuffle_i32x4(low01, low23, 0xDD);
        rows[8 + j] = _mm512_shuffle_i32x4(high01, high23, 0x88);
        rows[12 + j] = _mm512_shuffle_i32x4(high01, high23, 0xDD);
    }
}

QIRN_AVX512 void Blocks(std::uint32_t* state, const std::byte* const* blocks, std::size_t count)
{
    Vector abcd[4];
    for (std::size_t i = 0; i < 4; ++i)
        abcd[i] = _mm512_loadu_si512(state + i * kLanes);
    for (std::size_t block = 0; block < count; ++block) {
        const std::size_t offset = block * 64;
        Vector words[16];
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            words[lane] = _mm512_loadu_si512(blocks[lane] + offset);
        Transpose(words);
        const Vector before[4] = {abcd[0], abcd[1], abcd[2], abcd[3]};
        Steps(abcd, words);
        for (std::size_t i = 0; i < 4; ++i)
            abcd[i] = _mm512_add_epi32(abcd[i], before[i]);
    }
    for (std::size_t i = 0; i < 4; ++i)
        _mm512_storeu_si512(state + i * kLanes, abcd[i]);
}

}  // namespace

void Md5Avx512Kernel(std::uint32_t* state, const std::byte* const* blocks, std::size_t count)
{
    Blocks(state, blocks, count);
}

}  // namespace qirn
