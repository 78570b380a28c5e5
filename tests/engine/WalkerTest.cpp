#include "engine/digest/Digest.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {
namespace {

using test::DigestOf;
using test::MemoryScan;
using test::TempTree;

// Lists a real folder in name order and fails on request for chosen names.
class ScriptedFolder final : public Folder {
public:
    struct Script {
        std::set<std::string> unreadable;
        std::atomic<int> reads = 0;
        int rewinds = 0;
    };

    ScriptedFolder(std::unique_ptr<Folder> inner, Script& script) : inner_(std::move(inner)), script_(script)
    {
        FolderEntry entry;
        while (inner_->Next(entry))
            entries_.emplace_back(entry.name, entry.attributes);
        std::sort(entries_.begin(), entries_.end());
    }

    bool Next(FolderEntry& entry) override
    {
        if (next_ == entries_.size())
            return false;
        entry.name = entries_[next_].first;
        entry.attributes = entries_[next_++].second;
        return true;
    }
    void Rewind() override
    {
        ++script_.rewinds;
        next_ = 0;
    }
    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        FailIfUnreadable(name);
        return std::make_unique<ScriptedFolder>(inner_->OpenSubfolder(name), script_);
    }
    FileIdentity Identity() override { return inner_->Identity(); }
    std::uint64_t Length(const std::string& name) override
    {
        FailIfUnreadable(name);
        return inner_->Length(name);
    }
    FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        ++script_.reads;
        FailIfUnreadable(name);
        return inner_->ReadFile(name, buffer);
    }

private:
    void FailIfUnreadable(const std::string& name)
    {
        if (script_.unreadable.contains(name))
            throw Failure::FromErrno(EACCES, name);
    }

    std::unique_ptr<Folder> inner_;
    Script& script_;
    std::vector<std::pair<std::string, unsigned>> entries_;
    std::size_t next_ = 0;
};

class WalkerTest : public ::testing::Test {
protected:
    void AddSignature(std::string_view content, std::string_view name)
    {
        scan_.signatures.Append(DigestOf(content), name);
    }

    // Walks the tree in name order, through the scripted folder.
    void ScriptedScan(ScriptedFolder::Script& script, MemoryScan& scan, unsigned jobs = 1, bool lanes = false)
    {
        ScriptedFolder top(OpenFolder(tree_.path()), script);
        mdlFindFiles::ScanRequest request = scan.Request(jobs);
        request.lanes = lanes;
        mdlFindFiles::FindFiles(top, tree_.path(), mdlFindFiles::kAllFiles, request);
    }
    void ScriptedScan(ScriptedFolder::Script& script) { ScriptedScan(script, scan_); }

    TempTree tree_;
    MemoryScan scan_;
};

TEST_F(WalkerTest, SizeLimitIsInclusive)
{
    for (const bool withSignatures : {true, false}) {
        SCOPED_TRACE(withSignatures);
        MemoryScan scan;
        if (withSignatures)
            scan.signatures.Append(DigestOf(std::string(83000, 'x')), "Edge");
        TempTree tree;
        tree.filled("limit", 83000);
        tree.filled("over", 83001);
        tree.file("empty", "");
        scan.Scan(tree.path());

        EXPECT_EQ(scan.examined.size(), 2u);
        std::vector<std::string> shown = scan.shown;
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, (std::vector<std::string>{"empty", "limit", "over"}));
        EXPECT_EQ(scan.hits.size(), withSignatures ? 1u : 0u);
        EXPECT_TRUE(scan.problems.paths.empty());
    }
}

TEST_F(WalkerTest, FilesBeforeSubfoldersDepthFirst)
{
    tree_.file("f1", "1");
    tree_.file("f2", "2");
    tree_.file("A/a1", "3");
    tree_.file("A/A1/x", "4");
    tree_.file("B/b1", "5");
    AddSignature("nothing", "None");
    ScriptedFolder::Script script;
    ScriptedScan(script);
    EXPECT_EQ(scan_.shown, (std::vector<std::string>{"f1", "f2", "a1", "x", "b1"}));
    EXPECT_EQ(scan_.examined.size(), 5u);
    EXPECT_EQ(script.rewinds, 0);
}

TEST_F(WalkerTest, AFolderTooLargeToKeepIsListedAgainForItsFiles)
{
    constexpr int kFiles = 1400;  // names past the kept listing's bound
    for (int i = 0; i < kFiles; ++i)
        tree_.file("big/" + std::to_string(i) + std::string(200, 'n'), "");
    tree_.file("big/evil", "evil");
    tree_.file("big/sub/evil", "evil");
    AddSignature("evil", "Evil");
    ScriptedFolder::Script script;
    ScriptedScan(script);
    EXPECT_EQ(scan_.HitPaths(), (std::vector<std::string>{tree_.path("big/evil"), tree_.path("big/sub/evil")}));
    EXPECT_EQ(scan_.examined.size(), kFiles + 2u);
    EXPECT_EQ(script.rewinds, 1);

    // The system's own listing, read again from its start, gives the same.
    MemoryScan real;
    real.signatures.Append(DigestOf("evil"), "Evil");
    real.Scan(tree_.path());
    EXPECT_EQ(real.HitPaths(), scan_.HitPaths());
    EXPECT_EQ(real.examined.size(), kFiles + 2u);
}

TEST_F(WalkerTest, HiddenEntriesAreScannedSystemEntriesAndLinksAreNot)
{
    tree_.file(".hidden", "bad");
    tree_.file(".dir/inner", "bad");
    tree_.file("plain", "bad");
    tree_.fifo("pipe");
    tree_.link("zero", "/dev/zero");
    tree_.link("loop", ".");
    tree_.link("up/loop", "..");
    tree_.link("to-plain", tree_.root() / "plain");
    tree_.link("to-dir", tree_.root() / ".dir");
    AddSignature("bad", "Bad");
    scan_.Scan(tree_.path());

    std::vector<std::string> hits = scan_.HitPaths();
    std::sort(hits.begin(), hits.end());
    EXPECT_EQ(hits, (std::vector<std::string>{tree_.path(".dir/inner"), tree_.path(".hidden"), tree_.path("plain")}));
    EXPECT_EQ(scan_.examined.size(), 3u);
    for (const std::string& shown : scan_.shown)
        EXPECT_TRUE(shown == ".hidden" || shown == "inner" || shown == "plain") << shown;
}

TEST_F(WalkerTest, AnUnreadableFileSkipsOnlyItself)
{
    tree_.file("a", "bad");
    tree_.file("b", "locked");
    tree_.file("c", "bad");
    tree_.file("sub/d", "bad");
    AddSignature("bad", "Bad");
    ScriptedFolder::Script script;
    script.unreadable = {"b"};
    ScriptedScan(script);

    EXPECT_EQ(scan_.HitPaths(), (std::vector<std::string>{tree_.path("a"), tree_.path("c"), tree_.path("sub/d")}));
    EXPECT_EQ(scan_.examined.size(), 3u);
    EXPECT_EQ(scan_.problems.paths, std::vector<std::string>{tree_.path("b")});
    EXPECT_EQ(scan_.problems.numbers, std::vector<int>{EACCES});
}

TEST_F(WalkerTest, AnUnreadableFolderSkipsOnlyItself)
{
    tree_.file("A/a", "bad");
    tree_.file("B/b", "bad");
    tree_.file("C/c", "bad");
    AddSignature("bad", "Bad");
    ScriptedFolder::Script script;
    script.unreadable = {"B"};
    ScriptedScan(script);

    EXPECT_EQ(scan_.HitPaths(), (std::vector<std::string>{tree_.path("A/a"), tree_.path("C/c")}));
    EXPECT_EQ(scan_.problems.paths, std::vector<std::string>{tree_.path("B")});
}

TEST_F(WalkerTest, PermissionDeniedOnRealFiles)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads everything; the scripted folder covers this case";
    tree_.file("a", "bad");
    ::chmod(tree_.file("b", "bad").c_str(), 0);
    tree_.file("c", "bad");
    ::chmod(tree_.folder("closed").c_str(), 0);
    tree_.file("open/d", "bad");
    AddSignature("bad", "Bad");
    scan_.Scan(tree_.path());

    std::vector<std::string> hits = scan_.HitPaths();
    std::sort(hits.begin(), hits.end());
    EXPECT_EQ(hits, (std::vector<std::string>{tree_.path("a"), tree_.path("c"), tree_.path("open/d")}));
    std::vector<std::string> problems = scan_.problems.paths;
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, (std::vector<std::string>{tree_.path("b"), tree_.path("closed")}));
}

TEST_F(WalkerTest, EmptySignatureListCountsFilesWithoutReadingThem)
{
    tree_.file("a", "1");
    tree_.file("b", "2");
    tree_.filled("big", 90000);
    ScriptedFolder::Script script;
    script.unreadable = {"__none__"};
    ScriptedScan(script);
    EXPECT_EQ(scan_.examined.size(), 2u);
    EXPECT_EQ(script.reads, 0);
}

TEST_F(WalkerTest, NameThatIsNotUtf8IsFoundWithItsExactBytes)
{
    const std::string name = "bad\xff\xfe-\xc3(";
    tree_.file(name, "evil");
    AddSignature("evil", "Evil.Name");
    scan_.Scan(tree_.path());

    ASSERT_EQ(scan_.hits.size(), 1u);
    EXPECT_EQ(scan_.hits[0].path, tree_.path(name));

    struct stat info { };
    ASSERT_EQ(::stat(tree_.path(name).c_str(), &info), 0);
    EXPECT_EQ(scan_.hits[0].identity.inode, info.st_ino);
    EXPECT_EQ(scan_.hits[0].identity.device, info.st_dev);
}

TEST_F(WalkerTest, EveryMatchingSignatureIsAHitInListOrder)
{
    tree_.file("sample.exe", "evil");
    AddSignature("evil", "First");
    AddSignature("other", "Other");
    scan_.signatures.Append(DigestOf("evil").substr(0, 31) + "A", "Broken");
    AddSignature("evil", "Second");
    scan_.Scan(tree_.path() + "/");

    ASSERT_EQ(scan_.hits.size(), 2u);
    EXPECT_EQ(scan_.hits[0].signatureName, "First");
    EXPECT_EQ(scan_.hits[1].signatureName, "Second");
    EXPECT_EQ(scan_.HitPaths(), (std::vector<std::string>(2, tree_.path("sample.exe"))));
    EXPECT_EQ(scan_.examined.size(), 1u);
}

TEST_F(WalkerTest, TrailingSeparatorGivesTheSameWalk)
{
    tree_.file("x/y", "bad");
    AddSignature("bad", "Bad");
    scan_.Scan(tree_.path());
    MemoryScan second;
    second.signatures.Append(DigestOf("bad"), "Bad");
    second.Scan(tree_.path() + "/");
    EXPECT_EQ(scan_.HitPaths(), second.HitPaths());
    EXPECT_EQ(scan_.HitPaths(), std::vector<std::string>{tree_.path("x/y")});
}

TEST_F(WalkerTest, NothingIsWalkedForAnEmptyPathOrAPendingStop)
{
    tree_.file("a", "1");
    scan_.Scan("");
    EXPECT_TRUE(scan_.shown.empty());

    scan_.stop.request_stop();
    scan_.Scan(tree_.path());
    EXPECT_TRUE(scan_.shown.empty());
    EXPECT_TRUE(scan_.examined.empty());
}

TEST_F(WalkerTest, StopDuringTheYieldCompletesThatFileOnly)
{
    tree_.file("f1", "bad");
    tree_.file("f2", "bad");
    tree_.file("f3", "bad");
    tree_.file("sub/g", "bad");
    AddSignature("bad", "Bad");
    scan_.onNext = [this] {
        if (scan_.shown.back() == "f2")
            scan_.stop.request_stop();
    };
    ScriptedFolder::Script script;
    ScriptedScan(script);

    EXPECT_EQ(scan_.shown, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(scan_.HitPaths(), (std::vector<std::string>{tree_.path("f1"), tree_.path("f2")}));
    EXPECT_EQ(scan_.examined.size(), 2u);
}

TEST_F(WalkerTest, ListReloadedDuringTheYieldAppliesToTheNextFile)
{
    tree_.file("f1", "bad");
    tree_.file("f2", "bad");
    scan_.onNext = [this] {
        if (scan_.shown.back() == "f2")
            scan_.signatures.Append(DigestOf("bad"), "Late");
    };
    ScriptedFolder::Script script;
    ScriptedScan(script);
    EXPECT_EQ(scan_.HitPaths(), std::vector<std::string>{tree_.path("f2")});
}

TEST_F(WalkerTest, TreeDeeperThanPathMaxIsWalkedToTheBottom)
{
    // mkdirat keeps each call short although the whole path is not.
    const std::string level = "deep-level";
    int fd = ::open(tree_.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    constexpr int kDepth = 500;
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0700), 0);
        const int child = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(child, 0);
        fd = child;
    }
    const int file = ::openat(fd, "bottom", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::write(file, "bad", 3), 3);
    ::close(file);
    ::close(fd);

    AddSignature("bad", "Bad");
    scan_.Scan(tree_.path());
    ASSERT_EQ(scan_.hits.size(), 1u);
    EXPECT_GT(scan_.hits[0].path.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_TRUE(scan_.problems.paths.empty());
}

// With MD5 lanes too, where the processor has them: files of many lengths
// end out of order in the lanes, and some of them are signatures.
TEST_F(WalkerTest, ParallelDigestsGiveTheSerialResultInWalkOrder)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 19);
    std::vector<std::string> signedContents;
    for (int i = 0; i < 1500; ++i) {
        const std::string folder = "d" + std::to_string(i % 17) + (i % 3 == 0 ? "/sub" + std::to_string(i % 5) : "");
        const int kind = pick(random);
        const std::string name = folder + "/f" + std::to_string(i);
        const std::string content = std::string(static_cast<std::size_t>(i * 37 % 5000), 'x') + std::to_string(i);
        if (kind == 0)
            tree_.filled(name, 83001);
        else
            tree_.file(name, kind < 4 ? "bad" : (kind < 6 ? "worse" : content));
        if (kind >= 6 && i % 7 == 0)
            signedContents.push_back(content);
    }
    tree_.file("d3/locked", "bad");
    tree_.file("d4/sub1/locked", "bad");

    ScriptedFolder::Script script;
    script.unreadable = {"locked", "sub4"};
    const auto fill = [&](MemoryScan& scan) {
        scan.signatures.Append(DigestOf("bad"), "Bad");
        scan.signatures.Append(DigestOf("worse"), "Worse");
        scan.signatures.Append(DigestOf("bad"), "Bad.Again");
        for (const std::string& content : signedContents)
            scan.signatures.Append(DigestOf(content), "Long");
    };
    fill(scan_);
    ScriptedScan(script, scan_);
    ASSERT_GT(scan_.hits.size(), 350u);
    ASSERT_GT(scan_.problems.paths.size(), 2u);

    for (const auto& [jobs, lanes] : {std::pair{1u, true}, {2u, false}, {3u, false}, {2u, true}, {3u, true}}) {
        SCOPED_TRACE(testing::Message() << jobs << " jobs" << (lanes ? ", lanes" : ""));
        MemoryScan parallel;
        fill(parallel);
        ScriptedScan(script, parallel, jobs, lanes);
        EXPECT_EQ(parallel.HitPaths(), scan_.HitPaths());
        EXPECT_EQ(parallel.examined, scan_.examined);
        EXPECT_EQ(parallel.problems.paths, scan_.problems.paths);
        for (std::size_t i = 0; i < std::min(parallel.hits.size(), scan_.hits.size()); ++i) {
            EXPECT_EQ(parallel.hits[i].signatureName, scan_.hits[i].signatureName);
            EXPECT_EQ(parallel.hits[i].identity, scan_.hits[i].identity);
        }
    }

    MemoryScan unlisted;
    ScriptedScan(script, unlisted, 2);
    EXPECT_EQ(unlisted.examined.size(), scan_.examined.size());
}

}  // namespace
}  // namespace qirn
