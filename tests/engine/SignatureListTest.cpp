#include "engine/signatures/SignatureList.h"
#include "engine/digest/Digest.h"
#include "engine/signatures/KeyedHash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qirn {
namespace {

std::string RandomDigestText(std::mt19937& random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    Md5Digest digest{};
    for (auto& b : digest)
        b = static_cast<std::uint8_t>(byte(random));
    return mdlMD5::DigestToHex(digest);
}

// Every entry compared in list order: what the index must reproduce.
std::vector<std::string> LinearMatches(
    const std::vector<std::pair<std::string, std::string>>& entries, const std::string& digestText)
{
    std::vector<std::string> names;
    for (const auto& [digest, name] : entries) {
        if (digest == digestText)
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> IndexMatches(const SignatureList& list, const std::string& digestText)
{
    std::vector<std::string> names;
    const auto add = [&](std::string_view name) { names.emplace_back(name); };
    if (digestText.size() == 64)
        list.ForEachMatch(*Sha256FromText(digestText), add);
    else
        list.ForEachMatch(*DigestFromText(digestText), add);
    return names;
}

TEST(SignatureListTest, IndexFindsExactlyTheHitsOfComparingEveryEntry)
{
    std::mt19937 random(20261207);
    std::vector<std::string> pool;
    pool.reserve(300);
    for (int i = 0; i < 300; ++i)
        pool.push_back(RandomDigestText(random));
    // A SHA-256 text whose first half is an MD5 text of the pool.
    for (std::size_t i = 0; i < 100; ++i)
        pool.push_back(pool[i] + RandomDigestText(random));

    std::vector<std::pair<std::string, std::string>> entries;
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> kind(0, 9);
    for (int i = 0; i < 20000; ++i) {
        std::string digest = pool[pick(random)];
        if (kind(random) == 0)
            digest[0] = 'G';  // never a digest
        entries.emplace_back(digest, "Sig." + std::to_string(i));
    }

    SignatureList list;
    for (int round = 0; round < 2; ++round) {  // the second round reuses a cleared list
        list.Clear();
        for (const auto& [digest, name] : entries)
            list.Append(digest, name);
        ASSERT_EQ(list.Count(), entries.size());
        for (const std::string& digest : pool)
            ASSERT_EQ(IndexMatches(list, digest), LinearMatches(entries, digest));
        EXPECT_TRUE(IndexMatches(list, RandomDigestText(random)).empty());
    }
}

TEST(SignatureListTest, BothDigestsOfAFileHitInListOrder)
{
    const std::string md5 = "0cc175b9c0f1b6a831c399e269772661";
    const std::string sha256 = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
    SignatureList list;
    EXPECT_FALSE(list.HasSha256());
    for (const auto& [digest, name] : std::vector<std::pair<std::string, std::string>>{{sha256, "1"}, {md5, "2"},
             {"CA978112CA1BBDCAFAC231B39A23DC4DA786EFF8147C4E72B9807785AFEE48BB", "upper"}, {md5, "3"}, {sha256, "4"},
             {sha256, "5"}, {md5, "6"}})
        list.Append(digest, name);
    EXPECT_TRUE(list.HasSha256());
    FileDigests digests{*DigestFromText(md5), Sha256FromText(sha256)};
    std::vector<std::string> names;
    list.ForEachMatch(digests, [&](std::string_view name) { names.emplace_back(name); });
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));

    digests.sha256.reset();
    names.clear();
    list.ForEachMatch(digests, [&](std::string_view name) { names.emplace_back(name); });
    EXPECT_EQ(names, (std::vector<std::string>{"2", "3", "6"}));
}

TEST(SignatureListTest, ReserveKeepsEntriesAlreadyIndexed)
{
    SignatureList list;
    const std::string digest = "0cc175b9c0f1b6a831c399e269772661";
    for (int i = 0; i < 40; ++i)
        list.Append(digest, std::to_string(i));
    list.Reserve(100000, 0);
    list.Append(digest, "40");
    const std::vector<std::string> names = IndexMatches(list, digest);
    ASSERT_EQ(names.size(), 41u);
    EXPECT_EQ(names.front(), "0");
    EXPECT_EQ(names.back(), "40");
}

// Small blocks come from malloc, large ones are mapped and grow by moving
// their pages: values survive every step, and a move.
// Digests that an unkeyed multiplicative hash maps to one value: the low word
// equals the high word times the mixing constant, so their xor is zero.
TEST(SignatureListTest, CraftedCollidingDigestsDoNotShareAProbeSequence)
{
    SignatureList list;
    constexpr int kEntries = 20000;
    for (std::uint64_t i = 0; i < kEntries; ++i) {
        const std::uint64_t high = (i + 1) * 0x100000001B3ULL;
        const std::uint64_t low = high * 0x9E3779B97F4A7C15ULL;
        Md5Digest digest{};
        std::memcpy(digest.data(), &low, 8);
        std::memcpy(digest.data() + 8, &high, 8);
        list.Append(mdlMD5::DigestToHex(digest), "Crafted");
    }
    ASSERT_EQ(list.Count(), std::size_t{kEntries});
    // Random hashes at this load keep the worst probe near a hundred slots.
    EXPECT_LT(list.LongestProbe(), 400u);
}

TEST(SignatureListTest, DigestTextMustBe32LowercaseHexDigits)
{
    EXPECT_TRUE(DigestFromText("0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(DigestFromText("0123456789ABCDEF0123456789abcdef"));
    EXPECT_FALSE(DigestFromText("0123456789abcdef0123456789abcde"));
    EXPECT_FALSE(DigestFromText("0123456789abcdef0123456789abcdef0"));
    EXPECT_FALSE(DigestFromText("0123456789abcdef0123456789abcdeg"));
    EXPECT_FALSE(DigestFromText(""));
    EXPECT_TRUE(Sha256FromText(std::string(64, 'f')));
    EXPECT_FALSE(Sha256FromText(std::string(63, 'f')));
    EXPECT_FALSE(Sha256FromText(std::string(65, 'f')));
    EXPECT_FALSE(Sha256FromText(std::string(63, 'f') + "F"));
    EXPECT_FALSE(DigestFromText(std::string(64, 'f')));
}

}  // namespace
}  // namespace qirn
