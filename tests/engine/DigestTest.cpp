#include "engine/digest/Digest.h"
#include "engine/Failure.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <array>
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

// FIPS 180-4's examples, with the MD5 of the same bytes, from one read.
TEST(DigestTest, BothDigestsOfAFileFromOneRead)
{
    const std::vector<std::array<std::string, 3>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a",
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    TempTree tree;
    qirn::Digester digester;
    for (const auto& [content, md5, sha256] : suite) {
        SCOPED_TRACE(content);
        const auto path = tree.file("f", content);
        const qirn::FileDigests both = digester.ComputeFile(path, true);
        EXPECT_EQ(mdlMD5::DigestToHex(both.md5), md5);
        ASSERT_TRUE(both.sha256);
        EXPECT_EQ(mdlMD5::DigestToHex(*both.sha256), sha256);
        const qirn::FileDigests md5Only = digester.ComputeFile(path, false);
        EXPECT_EQ(mdlMD5::DigestToHex(md5Only.md5), md5);
        EXPECT_FALSE(md5Only.sha256);
    }
}

TEST(DigestTest, FileDigestEqualsDigestOfItsBytesAtBlockAndBufferBoundaries)
{
    TempTree tree;
    qirn::Md5 md5;
    qirn::Sha256 sha256;
    qirn::Digester digester;
    for (const std::size_t size : {63u, 64u, 65u, 127u, 128u, 129u, 65535u, 65536u, 65537u, 83000u, 200000u}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>(i * 7 + i / 251);
        const auto bytes = std::as_bytes(std::span(content.data(), content.size()));
        const std::string digest = mdlMD5::FileMD5(tree.file("f", content));
        EXPECT_EQ(digest, mdlMD5::DigestToHex(md5.Compute(bytes)));
        EXPECT_EQ(digest.size(), 32u);
        const qirn::FileDigests both = digester.ComputeFile(tree.root() / "f", true);
        EXPECT_EQ(mdlMD5::DigestToHex(both.md5), digest);
        EXPECT_EQ(both.sha256, sha256.Compute(bytes));
        EXPECT_EQ(digester.Compute(bytes, true).sha256, sha256.Compute(bytes));
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
