// The MD5 lanes against the platform's single-stream MD5 (OpenSSL, CNG on
// Windows), for every lane set this processor runs.

#include "engine/digest/Md5Lanes.h"
#include "engine/digest/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <span>
#include <vector>

namespace {

using qirn::Md5Digest;
using qirn::Md5Lanes;
using qirn::Md5LaneSet;
using Message = std::span<const std::byte>;

class Md5LanesTest : public testing::TestWithParam<Md5LaneSet> {
protected:
    void SetUp() override
    {
        if (!Md5Lanes::Supported(GetParam()))
            GTEST_SKIP() << "this processor or build does not run the " << Name(GetParam()) << " lanes";
        std::mt19937 random(29);
        bytes_.resize(200000);
        for (std::byte& byte : bytes_)
            byte = static_cast<std::byte>(random());
    }

    static const char* Name(Md5LaneSet set) { return set == Md5LaneSet::kAvx2 ? "AVX2" : "AVX-512"; }

    // A message of that length, at an offset that varies with it, so that
    // blocks are read from every alignment.
    Message Bytes(std::size_t length) const { return Message(bytes_).subspan(length % 61, length); }

    // Digests the messages in the lanes, a free lane taking the next one.
    static std::vector<Md5Digest> InLanes(const std::vector<Message>& messages)
    {
        Md5Lanes lanes(GetParam());
        std::vector<Md5Digest> digests(messages.size());
        std::vector<std::size_t> messageOfLane(lanes.Width());
        std::vector<Md5Lanes::Ended> ended;
        std::size_t next = 0;
        while (next < messages.size() || lanes.Busy() > 0) {
            for (; next < messages.size() && lanes.Busy() < lanes.Width(); ++next)
                messageOfLane.at(lanes.Start(messages[next])) = next;
            ended.clear();
            lanes.RunUntilOneEnds(ended);
            EXPECT_FALSE(ended.empty());
            for (const Md5Lanes::Ended& done : ended)
                digests[messageOfLane.at(done.lane)] = done.digest;
        }
        return digests;
    }

    static void ExpectSingleStreamDigests(const std::vector<Message>& messages)
    {
        const std::vector<Md5Digest> digests = InLanes(messages);
        qirn::Md5 md5;
        for (std::size_t i = 0; i < messages.size(); ++i)
            EXPECT_EQ(mdlMD5::DigestToHex(digests[i]), mdlMD5::DigestToHex(md5.Compute(messages[i])))
                << "message " << i << " of " << messages[i].size() << " bytes";
    }

    std::vector<std::byte> bytes_;
};

TEST_P(Md5LanesTest, Rfc1321Suite)
{
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a"},
    };
    std::vector<Message> messages;
    for (const auto& entry : suite)
        messages.push_back(std::as_bytes(std::span(entry.first)));
    const std::vector<Md5Digest> digests = InLanes(messages);
    for (std::size_t i = 0; i < suite.size(); ++i)
        EXPECT_EQ(mdlMD5::DigestToHex(digests[i]), suite[i].second);
}

TEST_P(Md5LanesTest, EveryLengthUpTo1100)
{
    std::vector<Message> messages;
    for (std::size_t length = 0; length <= 1100; ++length)
        messages.push_back(Bytes(length));
    ExpectSingleStreamDigests(messages);
    // The same lengths, longest first: short messages then end while long
    // ones are in their first blocks.
    std::reverse(messages.begin(), messages.end());
    ExpectSingleStreamDigests(messages);
}

TEST_P(Md5LanesTest, RandomLengthsUpTo83000)
{
    std::mt19937 random(83000);
    std::uniform_int_distribution<std::size_t> length(0, 83000);
    std::vector<Message> messages;
    for (int i = 0; i < 300; ++i)
        messages.push_back(Bytes(length(random)));
    ExpectSingleStreamDigests(messages);
}

// Each lane ends first, last and at every place between: the lengths, all
// different in whole blocks and in the tail's length, turn by one lane each time.
TEST_P(Md5LanesTest, LanesEndInEveryOrder)
{
    const std::size_t width = Md5Lanes(GetParam()).Width();
    std::vector<std::size_t> lengths(width);
    for (std::size_t i = 0; i < width; ++i)
        lengths[i] = i * 64 + (i * 23) % 64;
    for (std::size_t turn = 0; turn < 2 * width; ++turn) {
        std::vector<Message> messages;
        for (std::size_t lane = 0; lane < width; ++lane)
            messages.push_back(Bytes(lengths[(lane + turn) % width]));
        if (turn >= width)
            std::reverse(messages.begin(), messages.end());
        // A second round of messages takes over the lanes as they free.
        for (std::size_t lane = 0; lane < width; ++lane)
            messages.push_back(Bytes(lengths[(lane * 3 + turn) % width] + 55));
        ExpectSingleStreamDigests(messages);
    }
}

TEST_P(Md5LanesTest, MessagesThatEndTogether)
{
    for (const std::size_t length : {0u, 55u, 56u, 64u, 119u, 120u, 4096u}) {
        SCOPED_TRACE(length);
        ExpectSingleStreamDigests(std::vector<Message>(40, Bytes(length)));
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, Md5LanesTest, testing::Values(Md5LaneSet::kAvx2, Md5LaneSet::kAvx512),
    [](const testing::TestParamInfo<Md5LaneSet>& set) {
        return set.param == Md5LaneSet::kAvx2 ? std::string("Avx2") : std::string("Avx512");
    });

}  // namespace
