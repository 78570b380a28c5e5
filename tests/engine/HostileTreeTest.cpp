// Trees that change under the walk or that the file system lists without
// entry types, through a listing double on real folders.

#include "engine/digest/Digest.h"
#include "engine/platform/posix/Folder.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <utility>
#include <vector>

namespace qirn {
namespace {

using test::DigestOf;
using test::MemoryScan;
using test::TempTree;

// readdir in name order; optionally without entry types, with a name that
// has vanished before each real one, like a file churned in the folder.
class SortedListing final : public RawListing {
public:
    SortedListing(UniqueFd fd, bool typeless) : inner_(ReadDirListing(std::move(fd)))
    {
        std::string_view name;
        unsigned char type = DT_UNKNOWN;
        while (inner_->Next(name, type)) {
            if (typeless)
                entries_.emplace_back(std::string(name) + ".vanished", static_cast<unsigned char>(DT_UNKNOWN));
            entries_.emplace_back(std::string(name), typeless ? static_cast<unsigned char>(DT_UNKNOWN) : type);
        }
        std::sort(entries_.begin(), entries_.end());
    }
    int Fd() const override { return inner_->Fd(); }
    bool Next(std::string_view& name, unsigned char& type) override
    {
        if (next_ == entries_.size())
            return false;
        name = entries_[next_].first;
        type = entries_[next_++].second;
        return true;
    }
    void Rewind() override { next_ = 0; }

private:
    std::unique_ptr<RawListing> inner_;
    std::vector<std::pair<std::string, unsigned char>> entries_;
    std::size_t next_ = 0;
};

void ScanListedBy(MemoryScan& scan, const std::string& path, bool typeless)
{
    const std::unique_ptr<Folder> top =
        OpenFolder(path, [typeless](UniqueFd fd) { return std::make_unique<SortedListing>(std::move(fd), typeless); });
    mdlFindFiles::FindFiles(*top, path, mdlFindFiles::kAllFiles, scan.Request());
}

TEST(HostileTreeTest, AnEntryThatVanishedAfterTheListingSkipsOnlyItself)
{
    TempTree tree;
    for (const char* name : {"a.exe", "b.exe", "sub/c.exe", ".hidden/d.exe"})
        tree.file(name, "evil");
    tree.file("clean.txt", "fine");
    MemoryScan scan;
    scan.signatures.Append(DigestOf("evil"), "Evil");
    ScanListedBy(scan, tree.path(), true);
    EXPECT_EQ(scan.HitPaths(),
        (std::vector<std::string>{
            tree.path("a.exe"), tree.path("b.exe"), tree.path(".hidden/d.exe"), tree.path("sub/c.exe")}));
    EXPECT_EQ(scan.examined.size(), 5u);
    EXPECT_TRUE(scan.problems.paths.empty());
}

// The kernel lists a folder removed after it was opened as ENOENT: the
// folder has ended, and that is no failure.
TEST(HostileTreeTest, AFolderRemovedBeforeItIsListedIsEmpty)
{
    TempTree tree;
    tree.folder("gone");
    tree.file("later/evil.exe", "evil");
    MemoryScan scan;
    scan.signatures.Append(DigestOf("evil"), "Evil");
    struct stat gone { };
    ASSERT_EQ(::stat(tree.path("gone").c_str(), &gone), 0);
    bool removed = false;
    const std::unique_ptr<Folder> top = OpenFolder(tree.path(), [&](UniqueFd fd) {
        struct stat opened { };
        // "gone" goes once it is open, before it is read.
        if (::fstat(fd.get(), &opened) == 0 && opened.st_ino == gone.st_ino && opened.st_dev == gone.st_dev) {
            EXPECT_EQ(::rmdir(tree.path("gone").c_str()), 0);
            removed = true;
        }
        return ReadDirListing(std::move(fd));
    });
    mdlFindFiles::FindFiles(*top, tree.path(), mdlFindFiles::kAllFiles, scan.Request());
    EXPECT_TRUE(removed);
    EXPECT_TRUE(scan.problems.paths.empty()) << scan.problems.paths.front();
    EXPECT_EQ(scan.HitPaths(), std::vector<std::string>{tree.path("later/evil.exe")});
}

// p holds the chain c/d/d/... (deeper than the folders the walk keeps open)
// and then x. At the bottom, c moves out of p and another folder takes p's
// name: climbing back, the walk must not take the impostor for p.
TEST(HostileTreeTest, AnAncestorReplacedWhileClosedIsReportedUnreadable)
{
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced);
        TempTree tree;
        tree.chain("p/c", 40, "bottom.exe", "evil");
        tree.file("p/x/real.exe", "evil");
        MemoryScan scan;
        scan.signatures.Append(DigestOf("evil"), "Evil");
        scan.onNext = [&] {
            if (!replaced || scan.shown.back() != "bottom.exe")
                return;
            ASSERT_EQ(std::rename(tree.path("p/c").c_str(), tree.path("c-moved").c_str()), 0);
            ASSERT_EQ(std::rename(tree.path("p").c_str(), tree.path("p-old").c_str()), 0);
            tree.file("p/x/decoy.exe", "evil");
        };
        ScanListedBy(scan, tree.path(), false);

        ASSERT_FALSE(scan.HitPaths().empty());
        EXPECT_TRUE(scan.HitPaths().front().ends_with("/d/bottom.exe"));
        if (replaced) {
            EXPECT_EQ(scan.HitPaths().size(), 1u);
            EXPECT_EQ(scan.problems.paths, (std::vector<std::string>{tree.path("p")}));
            EXPECT_EQ(scan.problems.numbers, (std::vector<int>{kFolderReplaced}));
        } else {
            EXPECT_EQ(scan.HitPaths().back(), tree.path("p/x/real.exe"));
            EXPECT_TRUE(scan.problems.paths.empty());
        }
    }
}

}  // namespace
}  // namespace qirn
