#include "engine/Failure.h"
#include "engine/remedy/QuarantineFolder.h"
#include "tests/TempTree.h"
#include "tests/engine/DetectedFileFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using Status = QuarantineResult::Status;
using test::DetectedIn;
using test::Md5Of;
using test::TempTree;

// The sidecar text is the caller's; here it just names the original path.
std::string Sidecar(const QuarantineFacts& facts)
{
    return facts.originalPath;
}

struct Moved {
    QuarantineResult result;
    QuarantineFacts facts;
};

Moved MoveInto(QuarantineFolder& folder, const DetectedFile& detected)
{
    Moved moved;
    moved.result = folder.Move(detected.path, detected.identity, detected.digest, [&](const QuarantineFacts& facts) {
        moved.facts = facts;
        return Sidecar(facts);
    });
    return moved;
}

// Each quarantine folder below root: one on the tree's file system, and one on
// another (a copy, sync and removal instead of a rename) where /dev/shm is one.
std::vector<fs::path> QuarantinePlaces(const TempTree& tree, const fs::path& shm)
{
    std::vector<fs::path> places{tree.root() / "q"};
    struct stat here { };
    struct stat there { };
    if (!shm.empty() && ::stat(tree.path().c_str(), &here) == 0 && ::stat(shm.c_str(), &there) == 0 &&
        here.st_dev != there.st_dev)
        places.push_back(shm / "q");
    return places;
}

class QuarantineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char shm[] = "/dev/shm/qirn-quarantine-XXXXXX";
        if (::mkdtemp(shm) != nullptr)
            shm_ = shm;
    }
    void TearDown() override
    {
        if (!shm_.empty())
            fs::remove_all(shm_);
    }

    TempTree tree_;
    fs::path shm_;
};

TEST_F(QuarantineTest, MovedFileComesBackWithItsModeAndTimes)
{
    for (const fs::path& place : QuarantinePlaces(tree_, shm_)) {
        SCOPED_TRACE(place.native());
        const DetectedFile detected = DetectedIn(tree_, "scan/odd\xff name");
        const fs::path& file = detected.path;
        ::chmod(file.c_str(), 0751);
        const timespec times[2] = {{1000, 5}, {2000, 7}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
        const auto folder = OpenQuarantineFolder(place, true);
        const Moved moved = MoveInto(*folder, detected);
        ASSERT_EQ(moved.result.status, Status::Done) << moved.result.errorText;
        EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
        EXPECT_EQ(TempTree::read(place / moved.result.entry), "evil");
        EXPECT_EQ(folder->ReadSidecar(moved.result.entry), file.native());
        EXPECT_EQ(moved.facts.mode, 0751u);
        EXPECT_EQ(test::StatOf(place / moved.result.entry).st_mode & 07111, 0u) << "kept with no execute bits";
        EXPECT_EQ(moved.facts.modifiedNs, 2000'000'000'007);

        EXPECT_EQ(folder->Restore(moved.result.entry, moved.facts).status, Status::Done);
        struct stat info { };
        ASSERT_EQ(::lstat(file.c_str(), &info), 0);
        EXPECT_EQ(TempTree::read(file), "evil");
        EXPECT_EQ(info.st_mode & 07777, 0751u);
        EXPECT_EQ(info.st_mtim.tv_sec, 2000);
        EXPECT_EQ(info.st_mtim.tv_nsec, 7);
        EXPECT_FALSE(fs::exists(place / moved.result.entry));
        EXPECT_FALSE(fs::exists(place / (moved.result.entry + ".json")));
        fs::remove(file);
    }
}

TEST_F(QuarantineTest, FileReplacedInBetweenStaysWhereItIs)
{
    for (const fs::path& place : QuarantinePlaces(tree_, shm_)) {
        SCOPED_TRACE(place.native());
        const auto folder = OpenQuarantineFolder(place, true);

        // Another file renamed over it after the scan.
        const DetectedFile swapped = DetectedIn(tree_, "scan/swapped");
        fs::rename(tree_.file("scan/innocent", "innocent"), swapped.path);
        EXPECT_EQ(MoveInto(*folder, swapped).result.status, Status::Changed);
        EXPECT_EQ(TempTree::read(swapped.path), "innocent");

        // Overwritten in place: same file, harmless content now.
        const DetectedFile rewritten = DetectedIn(tree_, "scan/rewritten");
        tree_.file("scan/rewritten", "harmless");
        EXPECT_EQ(MoveInto(*folder, rewritten).result.status, Status::Changed);
        EXPECT_EQ(TempTree::read(rewritten.path), "harmless");

        // A link put in its place is never followed.
        const DetectedFile linked = DetectedIn(tree_, "scan/linked");
        fs::remove(linked.path);
        fs::create_symlink(tree_.file("scan/target", "evil"), linked.path);
        EXPECT_EQ(MoveInto(*folder, linked).result.status, Status::Changed);
        EXPECT_TRUE(fs::is_symlink(linked.path));

        // Overwritten in place while its record is made: what is written
        // then is never removed with it.
        const DetectedFile late = DetectedIn(tree_, "scan/late");
        const QuarantineResult moved = folder->Move(late.path, late.identity, late.digest, [&](const auto& facts) {
            std::ofstream(late.path, std::ios::binary | std::ios::trunc) << "harmless";
            return Sidecar(facts);
        });
        ASSERT_EQ(moved.status, Status::Done) << moved.errorText;
        EXPECT_EQ(TempTree::read(late.path), "harmless");
        EXPECT_EQ(TempTree::read(place / moved.entry), "evil");
        fs::remove(place / moved.entry);
        fs::remove(place / (moved.entry + ".json"));

        EXPECT_EQ(MoveInto(*folder, {tree_.root() / "scan/never", {}, Md5Of("evil")}).result.status, Status::Missing);
        EXPECT_TRUE(fs::is_empty(place));
        fs::remove_all(tree_.root() / "scan");
    }
}

TEST_F(QuarantineTest, RestoreNeverReplacesWhatIsThereNow)
{
    const DetectedFile detected = DetectedIn(tree_, "scan/a");
    const fs::path& file = detected.path;
    const auto folder = OpenQuarantineFolder(tree_.root() / "q", true);
    Moved moved = MoveInto(*folder, detected);
    ASSERT_EQ(moved.result.status, Status::Done);

    tree_.file("scan/a", "new work");
    EXPECT_EQ(folder->Restore(moved.result.entry, moved.facts).status, Status::Occupied);
    EXPECT_EQ(TempTree::read(file), "new work");
    fs::remove(file);
    fs::create_symlink(tree_.root() / "elsewhere", file);
    EXPECT_EQ(folder->Restore(moved.result.entry, moved.facts).status, Status::Occupied);
    EXPECT_FALSE(fs::exists(tree_.root() / "elsewhere"));
    fs::remove(file);

    // Its folder swapped for a link: nothing lands where the link points.
    fs::rename(tree_.root() / "scan", tree_.root() / "moved-away");
    fs::create_symlink(tree_.folder("elsewhere"), tree_.root() / "scan");
    EXPECT_EQ(folder->Restore(moved.result.entry, moved.facts).status, Status::Failed);
    EXPECT_TRUE(fs::is_empty(tree_.root() / "elsewhere"));
    fs::remove(tree_.root() / "scan");
    fs::rename(tree_.root() / "moved-away", tree_.root() / "scan");

    QuarantineFacts other = moved.facts;
    other.digest = Md5Of("something else");
    EXPECT_EQ(folder->Restore(moved.result.entry, other).status, Status::Changed);
    EXPECT_EQ(folder->Restore(moved.result.entry, moved.facts).status, Status::Done);
    EXPECT_EQ(TempTree::read(file), "evil");
}

TEST_F(QuarantineTest, OnlyAPrivateFolderIsUsed)
{
    EXPECT_THROW(OpenQuarantineFolder(tree_.root() / "absent", false), Failure);
    ::chmod(tree_.folder("open").c_str(), 0755);
    EXPECT_THROW(OpenQuarantineFolder(tree_.root() / "open", true), Failure);
    EXPECT_THROW(OpenQuarantineFolder(tree_.file("plain", "x"), true), Failure);
    const auto made = OpenQuarantineFolder(tree_.root() / "made", true);
    struct stat info { };
    ASSERT_EQ(::stat(tree_.path("made").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace qirn
