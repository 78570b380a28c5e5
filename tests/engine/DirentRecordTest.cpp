// The kernel's folder records as getdents64 fills a buffer: each record is
// read only within what was read, whatever its length field says.

#include "engine/platform/posix/Folder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <string>
#include <vector>

namespace qirn {
namespace {

constexpr std::size_t kNameAt = offsetof(dirent64, d_name);

// A record as the kernel writes it: header, name, NUL, padding to length.
std::vector<std::byte> Record(std::uint64_t inode, unsigned short length, unsigned char type, const std::string& name)
{
    std::vector<std::byte> bytes(std::max<std::size_t>(length, kNameAt + name.size() + 1));
    std::memcpy(bytes.data() + offsetof(dirent64, d_ino), &inode, sizeof inode);
    std::memcpy(bytes.data() + offsetof(dirent64, d_reclen), &length, sizeof length);
    std::memcpy(bytes.data() + offsetof(dirent64, d_type), &type, sizeof type);
    std::memcpy(bytes.data() + kNameAt, name.data(), name.size());
    return bytes;
}

TEST(DirentRecordTest, ARecordIsReadOnlyWithinTheBytesRead)
{
    const auto length = [](std::size_t nameSize) {
        return static_cast<unsigned short>((kNameAt + nameSize + 8) & ~7u);
    };
    struct Case {
        const char* what;
        std::vector<std::byte> bytes;
        std::size_t available;  // of bytes, as read
        std::optional<std::string> name;
    };
    const std::vector<std::byte> plain = Record(7, length(5), DT_REG, "a.exe");
    const std::vector<std::byte> unterminated = Record(7, static_cast<unsigned short>(kNameAt + 4), DT_REG, "abcd");
    const std::vector<Case> cases = {
        {"a whole record", plain, plain.size(), "a.exe"},
        {"a record cut short", plain, plain.size() - 1, std::nullopt},
        {"less than a header", plain, kNameAt, std::nullopt},
        {"nothing", plain, 0, std::nullopt},
        {"a length that leaves no room for a name", Record(7, static_cast<unsigned short>(kNameAt), DT_REG, ""),
            kNameAt + 1, std::nullopt},
        {"a length of zero", Record(7, 0, DT_REG, "x"), kNameAt + 8, std::nullopt},
        {"a name without its NUL ends with the record", unterminated, kNameAt + 4, "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<DirentRecord> record = ParseDirentRecord(std::span(c.bytes).first(c.available));
        ASSERT_EQ(record.has_value(), c.name.has_value());
        if (!record)
            continue;
        EXPECT_EQ(std::string(record->name), *c.name);
        EXPECT_EQ(record->inode, 7u);
        EXPECT_EQ(record->type, DT_REG);
        EXPECT_LE(record->length, c.available);
    }
}

TEST(DirentRecordTest, RecordsFollowEachOtherByTheirLength)
{
    std::vector<std::byte> buffer = Record(0, 32, DT_REG, "gone");
    const std::vector<std::byte> second = Record(9, 40, DT_DIR, "sub");
    buffer.insert(buffer.end(), second.begin(), second.end());
    const auto first = ParseDirentRecord(buffer);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->inode, 0u);
    EXPECT_EQ(first->length, 32u);
    const auto next = ParseDirentRecord(std::span(buffer).subspan(first->length));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->name, "sub");
    EXPECT_EQ(next->type, DT_DIR);
    EXPECT_EQ(next->length, 40u);
}

}  // namespace
}  // namespace qirn
