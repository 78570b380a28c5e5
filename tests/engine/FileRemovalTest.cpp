#include "engine/FileRemoval.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <filesystem>
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

TEST(FileRemovalTest, DeletesTheDetectedFileWhateverItsName)
{
    TempTree tree;
    for (const char* name : {"plain.exe", ".hidden", "odd\xff\xfe name"}) {
        SCOPED_TRACE(name);
        const fs::path file = tree.file(name, "evil");
        const RemovalResult result = RemoveDetectedFile(file, IdentityOf(file));
        EXPECT_EQ(result.status, Status::Deleted);
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
        EXPECT_EQ(RemoveDetectedFile(file, {}).status, Status::Missing);
    }
}

TEST(FileRemovalTest, NothingAtThePathIsNothingToDo)
{
    TempTree tree;
    EXPECT_EQ(RemoveDetectedFile(tree.root() / "never", {}).status, Status::Missing);
    EXPECT_EQ(RemoveDetectedFile(tree.root() / "no-folder" / "file", {}).status, Status::Missing);
}

TEST(FileRemovalTest, AnEntryReplacedAfterTheScanIsKept)
{
    TempTree tree;
    const fs::path target = tree.file("precious", "keep me");

    const fs::path linked = tree.file("linked", "evil");
    const FileIdentity linkedIdentity = IdentityOf(linked);
    fs::remove(linked);
    fs::create_symlink(target, linked);
    EXPECT_EQ(RemoveDetectedFile(linked, linkedIdentity).status, Status::Replaced);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_TRUE(fs::exists(target));

    // Renaming the other file over it gives the entry another identity.
    const fs::path swapped = tree.file("swapped", "evil");
    const FileIdentity swappedIdentity = IdentityOf(swapped);
    const fs::path other = tree.file("other", "innocent");
    fs::rename(other, swapped);
    EXPECT_EQ(RemoveDetectedFile(swapped, swappedIdentity).status, Status::Replaced);
    EXPECT_TRUE(fs::exists(swapped));

    const fs::path folder = tree.file("became-folder", "evil");
    const FileIdentity folderIdentity = IdentityOf(folder);
    fs::remove(folder);
    fs::create_directory(folder);
    EXPECT_EQ(RemoveDetectedFile(folder, folderIdentity).status, Status::Replaced);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(FileRemovalTest, FileInAFolderThatMayNotBeWrittenStaysAndSaysWhy)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write everywhere; run as an unprivileged user";
    TempTree tree;
    const fs::path file = tree.file("locked/evil", "evil");
    const FileIdentity identity = IdentityOf(file);
    fs::permissions(tree.root() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const RemovalResult result = RemoveDetectedFile(file, identity);
    EXPECT_EQ(result.status, Status::StillThere);
    EXPECT_EQ(result.errorText, "Permission denied");
    EXPECT_TRUE(fs::exists(file));
}

}  // namespace
}  // namespace qirn
