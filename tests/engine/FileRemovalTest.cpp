#include "engine/remedy/FileRemoval.h"
#include "engine/digest/Digest.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using Status = RemovalResult::Status;
using test::TempTree;

FileIdentity IdentityOf(const fs::path& path)
{
    struct stat info { };
    EXPECT_EQ(::lstat(path.c_str(), &info), 0);
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

Md5Digest DigestOf(std::string_view content)
{
    return *DigestFromText(test::DigestOf(content));
}

// The file at path as a scan that found content there would describe it.
DetectedFile Detected(const fs::path& path, std::string_view content = "evil")
{
    return {path, IdentityOf(path), DigestOf(content)};
}

TEST(FileRemovalTest, DeletesTheDetectedFileWhateverItsName)
{
    TempTree tree;
    // Longer than the window's limit: what qirn-scan --max-size found.
    const std::string large(200'000, 'x');
    const struct {
        const char* name;
        std::string_view content;
    } cases[] = {{"plain.exe", "evil"}, {".hidden", "evil"}, {"odd\xff\xfe name", "evil"}, {"large.bin", large}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = tree.file(c.name, c.content);
        const RemovalResult result = RemoveDetectedFile(Detected(file, c.content));
        EXPECT_EQ(result.status, Status::Deleted) << result.errorText;
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
        EXPECT_EQ(RemoveDetectedFile({file, {}, {}}).status, Status::Missing);
    }
}

TEST(FileRemovalTest, NothingAtThePathIsNothingToDo)
{
    TempTree tree;
    EXPECT_EQ(RemoveDetectedFile({tree.root() / "never", {}, {}}).status, Status::Missing);
    EXPECT_EQ(RemoveDetectedFile({tree.root() / "no-folder" / "file", {}, {}}).status, Status::Missing);
}

TEST(FileRemovalTest, AnEntryReplacedAfterTheScanIsKept)
{
    TempTree tree;
    const fs::path target = tree.file("precious", "keep me");

    const fs::path linked = tree.file("linked", "evil");
    const FileIdentity linkedIdentity = IdentityOf(linked);
    fs::remove(linked);
    fs::create_symlink(target, linked);
    EXPECT_EQ(RemoveDetectedFile({linked, linkedIdentity, DigestOf("evil")}).status, Status::Replaced);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_TRUE(fs::exists(target));

    // Renaming the other file over it gives the entry another identity.
    const fs::path swapped = tree.file("swapped", "evil");
    const FileIdentity swappedIdentity = IdentityOf(swapped);
    const fs::path other = tree.file("other", "innocent");
    fs::rename(other, swapped);
    EXPECT_EQ(RemoveDetectedFile({swapped, swappedIdentity, DigestOf("evil")}).status, Status::Replaced);
    EXPECT_TRUE(fs::exists(swapped));

    const fs::path folder = tree.file("became-folder", "evil");
    const FileIdentity folderIdentity = IdentityOf(folder);
    fs::remove(folder);
    fs::create_directory(folder);
    EXPECT_EQ(RemoveDetectedFile({folder, folderIdentity, DigestOf("evil")}).status, Status::Replaced);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(FileRemovalTest, TheDetectedFileWithOtherContentNowIsKept)
{
    TempTree tree;
    const fs::path file = tree.file("rewritten.exe", "evil");
    const DetectedFile detected = Detected(file);
    for (const std::string_view content : {"harmless", "", "evil, and longer"}) {
        SCOPED_TRACE(content);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        ASSERT_EQ(IdentityOf(file), detected.identity) << "overwritten in place";
        const RemovalResult result = RemoveDetectedFile(detected);
        EXPECT_EQ(result.status, Status::Changed);
        EXPECT_EQ(result.errorText, "its content changed after the scan");
        EXPECT_EQ(TempTree::read(file), content);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.root()), fs::directory_iterator()), 1)
        << "no folder left behind";
}

TEST(FileRemovalTest, FileInAFolderThatMayNotBeWrittenStaysAndSaysWhy)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write everywhere; run as an unprivileged user";
    TempTree tree;
    const fs::path file = tree.file("locked/evil", "evil");
    const FileIdentity identity = IdentityOf(file);
    fs::permissions(tree.root() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const RemovalResult result = RemoveDetectedFile({file, identity, DigestOf("evil")});
    EXPECT_EQ(result.status, Status::StillThere);
    EXPECT_EQ(result.errorText, "Permission denied");
    EXPECT_TRUE(fs::exists(file));
}

}  // namespace
}  // namespace qirn
