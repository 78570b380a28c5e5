#include "engine/Digest.h"
#include "engine/Failure.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using qirn::test::TempTree;

TEST(DigestTest, Rfc1321Suite)
{
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TempTree tree;
    for (const auto& [content, digest] : suite) {
        SCOPED_TRACE(content);
        EXPECT_EQ(mdlMD5::FileMD5(tree.file("f", content)), digest);
    }
}

TEST(DigestTest, FileDigestEqualsDigestOfItsBytesAtBlockAndBufferBoundaries)
{
    TempTree tree;
    qirn::Md5 md5;
    for (const std::size_t size : {63u, 64u, 65u, 127u, 128u, 129u, 65535u, 65536u, 65537u, 83000u, 200000u}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>(i * 7 + i / 251);
        const auto bytes = std::as_bytes(std::span(content.data(), content.size()));
        const std::string digest = mdlMD5::FileMD5(tree.file("f", content));
        EXPECT_EQ(digest, mdlMD5::DigestToHex(md5.Compute(bytes)));
        EXPECT_EQ(digest.size(), 32u);
    }
}

TEST(DigestTest, HexIsLowercaseWithLeadingZeros)
{
    const std::vector<std::uint8_t> bytes = {0, 10, 15, 16, 255};
    EXPECT_EQ(mdlMD5::DigestToHex(bytes), "000a0f10ff");
    EXPECT_EQ(mdlMD5::DigestToHex({}), "");
}

TEST(DigestTest, OnlyRegularFilesAreDigestedAndNothingBlocks)
{
    TempTree tree;
    const auto fails = [](const std::filesystem::path& path, int number) {
        SCOPED_TRACE(path.string());
        try {
            mdlMD5::FileMD5(path);
            ADD_FAILURE() << "digest of a non-regular file";
        } catch (const qirn::Failure& failure) {
            EXPECT_EQ(failure.number(), number);
        }
    };
    fails(tree.root() / "missing", ENOENT);
    fails(tree.folder("dir"), qirn::kNotRegularFile);
#ifdef _WIN32
    tree.file("real", "a");
#else
    fails(tree.fifo("pipe"), qirn::kNotRegularFile);
    fails(tree.link("zero", "/dev/zero"), ELOOP);
    fails(tree.link("to-file", tree.file("real", "a")), ELOOP);
#endif
    // A failure leaves nothing behind that spoils the next digest.
    EXPECT_EQ(mdlMD5::FileMD5(tree.root() / "real"), "0cc175b9c0f1b6a831c399e269772661");
}

}  // namespace
