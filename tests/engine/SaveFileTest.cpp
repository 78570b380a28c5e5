#include "engine/platform/SaveFile.h"
#include "tests/FileSizeLimit.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using Step = SaveResult::Step;
using test::TempTree;

const std::string kOld = "\r\nA scan was started at : old\r\nA scan was finished at : old\r\n";
const std::string kNew = "\r\nA scan was started at : new\r\n";

// What stands at path, for comparing before and after.
std::string ContentOf(const fs::path& path)
{
    if (fs::is_directory(path))
        return "<folder>";
    return fs::exists(path) ? TempTree::read(path) : "<none>";
}

std::set<std::string> EntriesOf(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().native());
    return names;
}

TEST(SaveFileTest, TheNameEndsAsARegularFileHoldingExactlyTheBytes)
{
    struct Case {
        const char* what;
        std::function<void(TempTree&)> before;  // what stands at app/Results.txt
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"no old file", [](TempTree&) {}, kNew},
        {"a longer old file", [](TempTree& tree) { tree.file("app/Results.txt", kOld + kOld); }, kNew},
        {"an empty report", [](TempTree& tree) { tree.file("app/Results.txt", kOld); }, ""},
        {"bytes as given", [](TempTree&) {}, std::string("\xe9\0\r\r\n\n", 6)},
        {"a link to another file", [](TempTree& tree) { tree.link("app/Results.txt", tree.file("other", kOld)); },
            kNew},
        {"a dangling link", [](TempTree& tree) { tree.link("app/Results.txt", tree.root() / "nowhere"); }, kNew},
        {"a FIFO nobody reads", [](TempTree& tree) { tree.fifo("app/Results.txt"); }, kNew},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.folder("app");
        c.before(tree);
        const fs::path target = tree.root() / "app" / "Results.txt";
        const SaveResult result = SaveFileContent(target, c.bytes);
        EXPECT_TRUE(result.Ok()) << result.Describe();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
        EXPECT_EQ(TempTree::read(target), c.bytes);
        EXPECT_EQ(EntriesOf(tree.root() / "app"), std::set<std::string>{"Results.txt"});
        // A link's target is never written through.
        if (fs::exists(tree.root() / "other")) {
            EXPECT_EQ(TempTree::read(tree.root() / "other"), kOld);
        }
        EXPECT_FALSE(fs::exists(tree.root() / "nowhere"));
    }
}

TEST(SaveFileTest, AReplacedFileKeepsItsPermissions)
{
    TempTree tree;
    const fs::path target = tree.file("Results.txt", kOld);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(SaveFileContent(target, kNew).Ok());
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SaveFileTest, AFailureSaysWhichStepAndWhyAndKeepsTheOldFile)
{
    struct Case {
        const char* what;
        std::function<void(TempTree&)> before;
        Step step;
        int error;
        rlim_t sizeLimit = RLIM_INFINITY;
    };
    const std::vector<Case> cases = {
        {"no folder", [](TempTree&) {}, Step::Open, ENOENT},
        {"the folder is a file", [](TempTree& tree) { tree.file("app", kOld); }, Step::Open, ENOTDIR},
        {"the name is a folder", [](TempTree& tree) { tree.folder("app/Results.txt/inside"); }, Step::Open, EISDIR},
        {"the disk fills part-way", [](TempTree& tree) { tree.file("app/Results.txt", kOld); }, Step::Write, EFBIG,
            kNew.size() / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        c.before(tree);
        const fs::path target = tree.root() / "app" / "Results.txt";
        const std::string before = ContentOf(target);
        std::optional<test::FileSizeLimit> limit;
        if (c.sizeLimit != RLIM_INFINITY)
            limit.emplace(c.sizeLimit);
        const SaveResult result = SaveFileContent(target, kNew);
        limit.reset();
        EXPECT_EQ(result.failed, c.step);
        EXPECT_EQ(result.error, c.error);
        EXPECT_NE(result.Describe().find("Results.txt: " + std::generic_category().message(c.error)), std::string::npos)
            << result.Describe();
        EXPECT_EQ(ContentOf(target), before);
        if (fs::is_directory(tree.root() / "app")) {
            EXPECT_EQ(EntriesOf(tree.root() / "app"), std::set<std::string>{"Results.txt"});
        }
    }
}

// Run as a user that permissions bind (see tests/engine/CMakeLists.txt).
TEST(SaveFileTest, WhatThisUserMayNotWriteStaysAsItWas)
{
    TempTree tree;
    const fs::path readOnlyFile = tree.file("file/Results.txt", kOld);
    fs::permissions(readOnlyFile, fs::perms::owner_read);
    const fs::path inReadOnlyFolder = tree.file("folder/Results.txt", kOld);
    fs::permissions(tree.root() / "folder", fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(inReadOnlyFolder.parent_path().c_str(), W_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user";
    for (const fs::path& target : {readOnlyFile, inReadOnlyFolder}) {
        SCOPED_TRACE(target.native());
        const SaveResult result = SaveFileContent(target, kNew);
        EXPECT_EQ(result.failed, Step::Open);
        EXPECT_EQ(result.error, EACCES);
        EXPECT_EQ(TempTree::read(target), kOld);
        EXPECT_EQ(EntriesOf(target.parent_path()), std::set<std::string>{"Results.txt"});
    }
}

}  // namespace
}  // namespace qirn
