#include "engine/digest/Md5Lanes.h"

#include "engine/digest/Md5LaneKernels.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qirn {

namespace {

constexpr std::size_t kBlock = 64;
constexpr std::array<std::uint32_t, 4> kInitial = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

}  // namespace

bool Md5Lanes::Supported(Md5LaneSet set)
{
#if QIRN_MD5_LANES
    // Both also check that the operating system saves the registers.
    switch (set) {
    case Md5LaneSet::kAvx2:
        return __builtin_cpu_supports("avx2");
    case Md5LaneSet::kAvx512:
        return __builtin_cpu_supports("avx512f");
    }
#endif
    static_cast<void>(set);
    return false;
}

std::optional<Md5LaneSet> Md5Lanes::Best()
{
    for (const Md5LaneSet set : {Md5LaneSet::kAvx512, Md5LaneSet::kAvx2}) {
        if (Supported(set))
            return set;
    }
    return std::nullopt;
}

namespace {

Md5LaneKernel KernelOf(Md5LaneSet set)
{
#if QIRN_MD5_LANES
    return set == Md5LaneSet::kAvx512 ? Md5Avx512Kernel : Md5Avx2Kernel;
#else
    static_cast<void>(set);
    throw std::logic_error("no MD5 lanes in this build");
#endif
}

}  // namespace

Md5Lanes::Md5Lanes(Md5LaneSet set)
    : kernel_(KernelOf(set)),
      lanes_(set == Md5LaneSet::kAvx512 ? 16 : 8),
      state_(4 * lanes_.size()),
      blocks_(lanes_.size())
{
}

std::size_t Md5Lanes::Start(std::span<const std::byte> message)
{
    const auto free = std::find_if(lanes_.begin(), lanes_.end(), [](const Lane& lane) { return lane.blocks == 0; });
    const auto index = static_cast<std::size_t>(free - lanes_.begin());
    Lane& lane = *free;
    // The tail: the bytes after the last whole block, the 0x80 byte, zeros
    // and the length in bits, little-endian, at the end of its last block.
    const std::size_t whole = message.size() / kBlock * kBlock;
    const std::size_t rest = message.size() - whole;
    const std::size_t tailBlocks = rest + 9 <= kBlock ? 1 : 2;
    lane.tail.fill(std::byte{0});
    if (rest > 0)
        std::memcpy(lane.tail.data(), message.data() + whole, rest);
    lane.tail[rest] = std::byte{0x80};
    std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    for (std::size_t i = 0; i < 8; ++i, bits >>= 8)
        lane.tail[tailBlocks * kBlock - 8 + i] = static_cast<std::byte>(bits & 0xFF);
    lane.tailBlocks = tailBlocks;
    lane.inTail = whole == 0;
    lane.next = lane.inTail ? lane.tail.data() : message.data();
    lane.blocks = lane.inTail ? tailBlocks : whole / kBlock;
    for (std::size_t word = 0; word < 4; ++word)
        *Word(word, index) = kInitial[word];
    ++busy_;
    return index;
}

void Md5Lanes::RunUntilOneEnds(std::vector<Ended>& ended)
{
    while (busy_ > 0) {
        // Free lanes compute on a busy lane's blocks; their results are dropped.
        const auto busy = [](const Lane& lane) { return lane.blocks > 0; };
        const Lane& some = *std::find_if(lanes_.begin(), lanes_.end(), busy);
        std::size_t count = some.blocks;
        for (const Lane& lane : lanes_) {
            if (busy(lane))
                count = std::min(count, lane.blocks);
        }
        for (std::size_t i = 0; i < Width(); ++i)
            blocks_[i] = busy(lanes_[i]) ? lanes_[i].next : some.next;
        kernel_(state_.data(), blocks_.data(), count);

        const std::size_t before = ended.size();
        for (std::size_t i = 0; i < Width(); ++i) {
            Lane& lane = lanes_[i];
            if (lane.blocks == 0)
                continue;
            lane.blocks -= count;
            lane.next += count * kBlock;
            if (lane.blocks > 0)
                continue;
            if (!lane.inTail) {
                lane.inTail = true;
                lane.next = lane.tail.data();
                lane.blocks = lane.tailBlocks;
                continue;
            }
            Ended& done = ended.emplace_back();
            done.lane = i;
            for (std::size_t word = 0; word < 4; ++word) {
                const std::uint32_t value = *Word(word, i);
                for (std::size_t byte = 0; byte < 4; ++byte)
                    done.digest[word * 4 + byte] = static_cast<std::uint8_t>(value >> (8 * byte));
            }
            --busy_;
        }
        if (ended.size() > before)
            return;
    }
}

}  // namespace qirn
