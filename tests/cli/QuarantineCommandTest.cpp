#include "cli/Quarantine.h"
#include "cli/ScanCommand.h"
#include "engine/remedy/UserQuarantine.h"
#include "tests/TempTree.h"
#include "tests/cli/CommandRun.h"
#include "tests/engine/DetectedFileFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qirn {
namespace {

namespace fs = std::filesystem;
using test::DigestOf;
using test::Outcome;
using test::RunScan;
using test::TempTree;

class QuarantineCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvd_ = tree_.file("sa.kvd", DigestOf("evil") + "=Evil\n" + DigestOf("evil") + "=Evil.B").native();
    }

    // The quarantine entries named by "moved" records.
    static std::vector<std::string> Entries(const std::string& jsonl)
    {
        std::vector<std::string> entries;
        for (std::size_t at = 0; (at = jsonl.find(R"("type":"moved")", at)) != std::string::npos; ++at) {
            const std::size_t start = jsonl.find(R"("entry":")", at) + 9;
            entries.push_back(jsonl.substr(start, jsonl.find('"', start) - start));
        }
        return entries;
    }

    TempTree tree_;
    std::string kvd_;
};

TEST_F(QuarantineCommandTest, TheWindowsQuarantineIsNeverWalked)
{
    // The user's data folder, and so the window's quarantine, lies in the scanned folder.
    const fs::path data = tree_.folder("scan/data");
    const test::ScopedVariable dataHome("XDG_DATA_HOME", data.c_str());
    const fs::path quarantine = DefaultQuarantineFolder();
    EXPECT_EQ(quarantine, data / "qirn-checker" / "quarantine");
    const fs::path deleted = tree_.file("scan/deleted.exe", "evil");
    const RemovalResult kept =
        QuarantineDetectedFile({deleted, test::IdentityOf(deleted), test::Md5Of("evil")}, quarantine);
    EXPECT_EQ(kept.status, RemovalResult::Status::Deleted) << kept.errorText;
    const fs::path hit = tree_.file("scan/hit.exe", "evil");

    const Outcome scanned = RunScan({"-s", kvd_, tree_.path("scan")});
    EXPECT_EQ(scanned.status, kFound);
    EXPECT_NE(scanned.out.find(hit.native() + ": Evil FOUND"), std::string::npos) << scanned.out;
    EXPECT_EQ(scanned.out.find("quarantine"), std::string::npos) << scanned.out;
    EXPECT_NE(scanned.err.find("Excluded: 1\n"), std::string::npos) << scanned.err;
}

TEST_F(QuarantineCommandTest, MoveAndRestore)
{
    const fs::path hit = tree_.file("scan/sub/evil.exe", "evil");
    const fs::path other = tree_.file("scan/other.dll", "evil");
    tree_.file("scan/clean", "fine");
    const std::string quarantine = tree_.path("scan/q");

    const Outcome moved = RunScan({"-s", kvd_, "--format", "jsonl", "--move", quarantine, tree_.path("scan")});
    EXPECT_EQ(moved.status, kFound);
    const std::vector<std::string> entries = Entries(moved.out);
    ASSERT_EQ(entries.size(), 2u) << moved.out;
    EXPECT_FALSE(fs::exists(hit));
    EXPECT_FALSE(fs::exists(other));
    const std::optional<QuarantineFacts> facts = ParseSidecar(TempTree::read(entries[0] + ".json"));
    ASSERT_TRUE(facts);
    EXPECT_EQ(fs::path(facts->originalPath).filename(), "other.dll");

    // The quarantine folder lies in the scanned folder: the next scan leaves it out.
    const Outcome again = RunScan({"-s", kvd_, "--move", quarantine, tree_.path("scan")});
    EXPECT_EQ(again.status, kNothingFound);
    EXPECT_NE(again.err.find("Excluded: 1\n"), std::string::npos) << again.err;

    // Something took the place of one file meanwhile: it stays quarantined.
    tree_.file("scan/other.dll", "new work");
    const Outcome occupied = RunScan({"--restore", entries[0]});
    EXPECT_EQ(occupied.status, 2);
    EXPECT_NE(occupied.err.find("something is there now"), std::string::npos) << occupied.err;
    EXPECT_EQ(TempTree::read(other), "new work");

    const Outcome restored = RunScan({"--restore", entries[1] + ".json"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(restored.out, entries[1] + ".json: restored to " + hit.native() + "\n");
    EXPECT_EQ(TempTree::read(hit), "evil");
    EXPECT_FALSE(fs::exists(entries[1] + ".json"));
}

// The record keeps the mode in octal, set-id and sticky bits included, and
// the access time the file had before the scan read it; --restore reads
// them back from the record alone.
TEST_F(QuarantineCommandTest, RestoreBringsBackEveryModeBit)
{
    for (const ::mode_t mode : {0751, 04751, 02755, 01700}) {
        SCOPED_TRACE(mode);
        const fs::path file = tree_.file("modes/evil", "evil");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        // An access time older than the change, which the scan's read moves on.
        const timespec times[2] = {{1'000'000'000, 5}, {0, UTIME_OMIT}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        const Outcome moved =
            RunScan({"-s", kvd_, "--format", "jsonl", "--move", tree_.path("q"), tree_.path("modes")});
        const std::vector<std::string> entries = Entries(moved.out);
        ASSERT_EQ(entries.size(), 1u) << moved.out;
        const std::optional<QuarantineFacts> facts = ParseSidecar(TempTree::read(entries[0] + ".json"));
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->mode, mode);
        EXPECT_EQ(facts->accessedNs, 1'000'000'000'000'000'005);

        const Outcome restored = RunScan({"--restore", entries[0]});
        ASSERT_EQ(restored.status, 0) << restored.err;
        struct stat info { };
        ASSERT_EQ(::lstat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_EQ(info.st_atim.tv_sec, 1'000'000'000);
        fs::remove(file);
    }
}

// A record someone changed is refused with a reason, and the file stays.
TEST_F(QuarantineCommandTest, RestoreRefusesADamagedRecord)
{
    tree_.file("damaged/evil", "evil");
    const Outcome moved = RunScan({"-s", kvd_, "--format", "jsonl", "--move", tree_.path("q"), tree_.path("damaged")});
    const std::vector<std::string> entries = Entries(moved.out);
    ASSERT_EQ(entries.size(), 1u) << moved.out;
    const std::string record = TempTree::read(entries[0] + ".json");
    // The record with the value of one field replaced.
    const auto with = [&](const std::string& key, const std::string& value) {
        const std::size_t at = record.find("\"" + key + "\":") + key.size() + 3;
        const std::size_t end = record.find_first_of(",}", at);
        return record.substr(0, at) + value + record.substr(end);
    };
    struct Case {
        const char* what;
        std::string record;
        std::string reason;
    };
    const std::string notOurs = "its .json record is not one qirn-scan wrote";
    const std::vector<Case> cases = {
        {"a size of 10^15", with("size", "1000000000000000"), "not the size its record gives"},
        {"a size one byte short", with("size", "3"), "not the size its record gives"},
        {"a mode beyond the permission bits", with("mode", "\"0177777\""), notOurs},
        {"an owner beyond 32 bits", with("uid", "4294967296"), notOurs},
        {"a relative path", with("original_path_base64", "\"ZGFtYWdlZC9ldmls\""), notOurs},
        {"an empty path", with("original_path_base64", "\"\""), notOurs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::permissions(entries[0] + ".json", fs::perms::owner_read | fs::perms::owner_write);
        tree_.file(fs::path(entries[0] + ".json").lexically_relative(tree_.root()).string(), c.record);
        const Outcome restored = RunScan({"--restore", entries[0]});
        EXPECT_EQ(restored.status, 2);
        EXPECT_NE(restored.err.find(c.reason), std::string::npos) << restored.err;
        EXPECT_TRUE(fs::exists(entries[0]));
        EXPECT_FALSE(fs::exists(tree_.path("damaged/evil")));
    }
}

// The record names where the file really was, whatever way the FOLDER
// reached it, so that --restore puts it back there.
TEST_F(QuarantineCommandTest, RestoreFindsTheRealFolder)
{
    tree_.link("to-b", tree_.root() / "a/b");
    struct Case {
        const char* what;
        std::string folder;
    };
    const std::vector<Case> cases = {
        {"through a link", tree_.path("to-b")},
        {"through a link and ..", tree_.path("to-b") + "/.."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path real = tree_.file("a/b/evil", "evil");
        const Outcome moved = RunScan({"-s", kvd_, "--format", "jsonl", "--move", tree_.path("q"), c.folder});
        const std::vector<std::string> entries = Entries(moved.out);
        ASSERT_EQ(entries.size(), 1u) << moved.out;
        const std::optional<QuarantineFacts> facts = ParseSidecar(TempTree::read(entries[0] + ".json"));
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->originalPath, real.native());
        const Outcome restored = RunScan({"--restore", entries[0]});
        EXPECT_EQ(restored.status, 0) << restored.err;
        EXPECT_EQ(TempTree::read(real), "evil");
    }
}

TEST_F(QuarantineCommandTest, RemoveAndRefusals)
{
    const fs::path hit = tree_.file("scan/evil.exe", "evil");
    const Outcome removed = RunScan({"-s", kvd_, "--remove", tree_.path("scan")});
    EXPECT_EQ(removed.status, kFound);
    EXPECT_EQ(removed.out,
        hit.native() + ": Evil FOUND\n" + hit.native() + ": Evil.B FOUND\n" + hit.native() + ": removed\n");
    EXPECT_FALSE(fs::exists(hit));

    fs::create_directory(tree_.root() / "shared");
    fs::permissions(tree_.root() / "shared", fs::perms::all);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a folder others may enter", {"-s", kvd_, "--move", tree_.path("shared"), tree_.path("scan")}, "mode 0700"},
        {"the scanned folder itself", {"-s", kvd_, "--move", tree_.path(), tree_.path()}, "is a folder to scan"},
        {"both", {"--move", tree_.path("q"), "--remove", tree_.path("scan")}, "exclude each other"},
        {"restore and scan", {"--restore", tree_.path("q/x"), tree_.path("scan")}, "takes no folder"},
        {"not a record", {"--restore", kvd_}, "its record cannot be read"},
        {"a name not in the folder", {"--restore", tree_.path("q/absent")},
            "no quarantined file of that name: neither absent nor absent.json is in " + tree_.path("q")},
        // Names the mode it found, not one it assumes.
        {"a record in a folder others may enter", {"--restore", tree_.file("shared/x.json", "{}").native()},
            "shared: its mode is 0777, which lets others in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = RunScan(c.args);
        EXPECT_EQ(outcome.status, kCannotScan);
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    }
}

}  // namespace
}  // namespace qirn
