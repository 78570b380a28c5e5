#include "engine/platform/ApplicationFolder.h"
#include "engine/Failure.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using test::ScopedVariable;
using test::TempTree;

TEST(ApplicationFolderTest, BuildFolderOrUserDataFolder)
{
    TempTree tree;
    const fs::path exe = tree.folder("bin");
    const fs::path sample = tree.file("share/qirn-checker/sa.kvd", "44d88612fea8a8f36de82e1278abb02f=Sample\r\n");
    const fs::path data = tree.root() / "data";
    const fs::path own = data / "qirn-checker";
    struct Row {
        const char* what;
        bool writable;
        bool withSample;
        bool withDataFolder;
        bool ownSignatures;
        fs::path folder;
        fs::path signatures;
    };
    const Row rows[] = {
        {"build folder", true, false, true, false, exe, exe / "sa.kvd"},
        {"read-only folder", false, false, true, false, own, own / "sa.kvd"},
        {"installed, first scan", false, true, true, false, own, sample},
        {"installed, own signatures", false, true, true, true, own, own / "sa.kvd"},
        {"installed in a writable prefix", true, true, true, false, own, sample},
        {"installed, no home", false, true, false, false, exe, sample},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(data);
        if (row.ownSignatures)
            tree.file("data/qirn-checker/sa.kvd", "mine");
        const Installation installation{
            exe, row.writable, row.withSample ? sample : fs::path(), row.withDataFolder ? data : fs::path()};
        EXPECT_EQ(ApplicationFolder(installation), row.folder);
        EXPECT_EQ(DefaultSignatureFile(installation), row.signatures);
    }
}

TEST(ApplicationFolderTest, SampleIsFoundBesideTheBinFolder)
{
    TempTree tree;
    const fs::path bin = tree.folder("usr/bin");
    EXPECT_EQ(InstalledSample(bin), fs::path());
    tree.folder("usr/share/qirn-checker/sa.kvd");
    EXPECT_EQ(InstalledSample(bin), fs::path()) << "a folder is no sample";
    fs::remove(tree.root() / "usr/share/qirn-checker/sa.kvd");
    const fs::path sample = tree.file("usr/share/qirn-checker/sa.kvd", "x=y");
    EXPECT_EQ(InstalledSample(bin), sample);
}

TEST(ApplicationFolderTest, UserDataFolderFollowsXdgDataHome)
{
    struct Row {
        const char* dataHome;
        const char* home;
        const char* expected;
    };
    const Row rows[] = {
        {"/srv/data", "/home/ann", "/srv/data"}, {nullptr, "/home/ann", "/home/ann/.local/share"},
        {"", "/home/ann", "/home/ann/.local/share"},
        {"relative/data", "/home/ann", "/home/ann/.local/share"},  // not absolute: ignored
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dataHome != nullptr ? row.dataHome : "(unset)");
        const ScopedVariable dataHome("XDG_DATA_HOME", row.dataHome);
        const ScopedVariable home("HOME", row.home);
        EXPECT_EQ(UserDataFolder(), fs::path(row.expected));
    }
}

TEST(ApplicationFolderTest, PreparingSeedsTheSampleOnceAndKeepsTheUsersFile)
{
    TempTree tree;
    const std::string content = "44d88612fea8a8f36de82e1278abb02f=EICAR-Test-File\r\n";
    const Installation installation{
        tree.folder("bin"), false, tree.file("share/qirn-checker/sa.kvd", content), tree.root() / "home/.local/share"};
    const fs::path folder = tree.root() / "home/.local/share/qirn-checker";

    EXPECT_EQ(PrepareApplicationFolder(installation), folder);
    EXPECT_EQ(TempTree::read(folder / "sa.kvd"), content);
    for (const fs::path& made : {folder, folder.parent_path(), folder.parent_path().parent_path()}) {
        struct stat info { };
        ASSERT_EQ(::stat(made.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u) << made;
    }

    // The user's own file, or a link of theirs, is never replaced.
    tree.file("home/.local/share/qirn-checker/sa.kvd", "mine");
    EXPECT_EQ(PrepareApplicationFolder(installation), folder);
    EXPECT_EQ(TempTree::read(folder / "sa.kvd"), "mine");
    fs::remove(folder / "sa.kvd");
    fs::create_symlink("elsewhere", folder / "sa.kvd");
    PrepareApplicationFolder(installation);
    EXPECT_TRUE(fs::is_symlink(folder / "sa.kvd"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "a temporary copy was left behind";
}

TEST(ApplicationFolderTest, PreparingFailsLoudlyOrLeavesABuildFolderAlone)
{
    TempTree tree;
    const fs::path sample = tree.file("share/qirn-checker/sa.kvd", "x=y");
    const fs::path exe = tree.folder("bin");

    EXPECT_EQ(PrepareApplicationFolder({exe, true, {}, tree.root() / "data"}), exe);
    EXPECT_FALSE(fs::exists(tree.root() / "data")) << "a build folder needs nothing made";

    try {
        PrepareApplicationFolder({exe, false, sample, {}});
        ADD_FAILURE() << "no home folder was accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), kNoUserDataFolder);
    }
    tree.file("blocked", "a file where a folder should be");
    EXPECT_THROW(PrepareApplicationFolder({exe, false, sample, tree.root() / "blocked"}), Failure);
    EXPECT_THROW(PrepareApplicationFolder({exe, false, tree.root() / "gone.kvd", tree.root() / "data"}), Failure);
    EXPECT_FALSE(fs::exists(tree.root() / "data/qirn-checker/sa.kvd"));
}

// Run as an unprivileged user (PermissionsAsUnprivilegedUser): root may write anywhere.
TEST(ApplicationFolderTest, FolderWithoutWritePermissionIsNotWritable)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into any folder";
    TempTree tree;
    const fs::path folder = tree.folder("bin");
    EXPECT_TRUE(IsWritableFolder(folder));
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(IsWritableFolder(folder));
    EXPECT_FALSE(IsWritableFolder(tree.root() / "missing"));
}

}  // namespace
}  // namespace qirn
