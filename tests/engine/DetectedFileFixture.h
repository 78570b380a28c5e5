#pragma once

// Detected files for the removal and quarantine tests: made in a test's tree,
// with the identity and digest a scan would have recorded.

#include "engine/digest/Digest.h"
#include "engine/remedy/FileRemoval.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>

namespace qirn::test {

// The entry itself, never what a link points to.
inline struct stat StatOf(const std::filesystem::path& path)
{
    struct stat info { };
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

inline FileIdentity IdentityOf(const std::filesystem::path& path)
{
    const struct stat info = StatOf(path);
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

inline Md5Digest Md5Of(std::string_view content)
{
    return *DigestFromText(DigestOf(content));
}

// A new file with content at relative below tree, as a scan that found it
// there would describe it.
inline DetectedFile DetectedIn(TempTree& tree, std::string_view relative, std::string_view content = "evil")
{
    const std::filesystem::path path = tree.file(relative, content);
    return {path, IdentityOf(path), Md5Of(content)};
}

}  // namespace qirn::test
