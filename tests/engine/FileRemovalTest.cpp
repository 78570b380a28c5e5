#include "engine/remedy/FileRemoval.h"
#include "tests/TempTree.h"
#include "tests/engine/DetectedFileFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using Status = RemovalResult::Status;
using test::DetectedIn;
using test::IdentityOf;
using test::TempTree;

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
        const DetectedFile detected = DetectedIn(tree, c.name, c.content);
        const RemovalResult result = RemoveDetectedFile(detected);
        EXPECT_EQ(result.status, Status::Deleted) << result.errorText;
        EXPECT_FALSE(fs::exists(fs::symlink_status(detected.path)));
        EXPECT_EQ(RemoveDetectedFile({detected.path, {}, {}}).status, Status::Missing);
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

    const DetectedFile linked = DetectedIn(tree, "linked");
    fs::remove(linked.path);
    fs::create_symlink(target, linked.path);
    EXPECT_EQ(RemoveDetectedFile(linked).status, Status::Replaced);
    EXPECT_TRUE(fs::is_symlink(linked.path));
    EXPECT_TRUE(fs::exists(target));

    // Renaming the other file over it gives the entry another identity.
    const DetectedFile swapped = DetectedIn(tree, "swapped");
    const fs::path other = tree.file("other", "innocent");
    fs::rename(other, swapped.path);
    EXPECT_EQ(RemoveDetectedFile(swapped).status, Status::Replaced);
    EXPECT_TRUE(fs::exists(swapped.path));

    const DetectedFile folder = DetectedIn(tree, "became-folder");
    fs::remove(folder.path);
    fs::create_directory(folder.path);
    EXPECT_EQ(RemoveDetectedFile(folder).status, Status::Replaced);
    EXPECT_TRUE(fs::is_directory(folder.path));
}

TEST(FileRemovalTest, TheDetectedFileWithOtherContentNowIsKept)
{
    TempTree tree;
    const DetectedFile detected = DetectedIn(tree, "rewritten.exe");
    const fs::path& file = detected.path;
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
    const DetectedFile detected = DetectedIn(tree, "locked/evil");
    fs::permissions(tree.root() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const RemovalResult result = RemoveDetectedFile(detected);
    EXPECT_EQ(result.status, Status::StillThere);
    EXPECT_EQ(result.errorText, "Permission denied");
    EXPECT_TRUE(fs::exists(detected.path));
}

}  // namespace
}  // namespace qirn
