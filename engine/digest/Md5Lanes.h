#pragma once

// MD5 (RFC 1321) of many messages at once: each lane of a vector register
// carries one message, so a round over 8 (AVX2) or 16 (AVX-512) messages
// costs about what one round of a single message does. A lane whose message
// ends is free for the next one, so messages of any lengths mix.

#include "engine/digest/Digest.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qirn {

enum class Md5LaneSet { kAvx2, kAvx512 };

// One 64-byte block for each lane: the lanes' states (a, b, c, d, each as
// many words as lanes) and the next block of each lane, for count blocks.
using Md5LaneKernel = void (*)(std::uint32_t* state, const std::byte* const* blocks, std::size_t count);

class Md5Lanes {
public:
    struct Ended {
        std::size_t lane = 0;
        Md5Digest digest{};
    };

    // Whether this processor (and its operating system) runs the set.
    static bool Supported(Md5LaneSet set);
    // The widest set supported, if any.
    static std::optional<Md5LaneSet> Best();

    explicit Md5Lanes(Md5LaneSet set);

    std::size_t Width() const { return lanes_.size(); }
    std::size_t Busy() const { return busy_; }

    // Starts a message in a free lane (Busy() < Width()) and returns the
    // lane. Its bytes must stay in place until the lane ends.
    std::size_t Start(std::span<const std::byte> message);
    // Computes until at least one busy lane ends, and appends those that did.
    void RunUntilOneEnds(std::vector<Ended>& ended);

private:
    struct Lane {
        const std::byte* next = nullptr;  // the lane's next block
        std::size_t blocks = 0;           // left before the current stretch ends; 0 when free
        std::size_t tailBlocks = 0;       // 1, or 2 when the length does not fit after the last bytes
        bool inTail = false;              // the stretch is the padded tail
        alignas(64) std::array<std::byte, 128> tail{};
    };

    std::uint32_t* Word(std::size_t word, std::size_t lane) { return &state_[word * Width() + lane]; }

    Md5LaneKernel kernel_;
    std::vector<Lane> lanes_;
    std::vector<std::uint32_t> state_;  // a, b, c, d of every lane
    std::vector<const std::byte*> blocks_;
    std::size_t busy_ = 0;
};

}  // namespace qirn
