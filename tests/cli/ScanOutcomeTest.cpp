#include "cli/ScanCommand.h"
#include "tests/TempTree.h"
#include "tests/cli/CommandRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace qirn {
namespace {

using test::DigestOf;
using test::Outcome;
using test::RunScanUnprivileged;
using test::TempTree;

// Every kind of entry the walk can meet, below scan/.
class ScanOutcomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::permissions(tree_.root(), std::filesystem::perms::all);
        kvd_ = tree_.file("sa.kvd", DigestOf("evil") + "=Evil\r\n" + DigestOf("evil") + "=Evil.Too\r\n").native();
        tree_.file("scan/hit", "evil");
        tree_.file("scan/clean", "fine");
        tree_.file("scan/empty", "");
        tree_.filled("scan/limit", 10);
        tree_.filled("scan/large", 11);
        tree_.link("scan/file-link", tree_.root() / "scan/hit");
        tree_.link("scan/folder-link", tree_.root() / "scan/deep");
        tree_.fifo("scan/fifo");
        MakeSocket(tree_.path("scan/socket"));
        tree_.file("scan/deep/hit.2", "evil");
        tree_.file("scan/deep/locked", "evil");
        ::chmod(tree_.path("scan/deep/locked").c_str(), 0);
        tree_.file("scan/closed/unseen", "evil");
        ::chmod(tree_.path("scan/closed").c_str(), 0);
        tree_.file("scan/cache/a", "evil");
        tree_.file("scan/cache/b", "evil");
        tree_.file("scan/note.tmp", "evil");
    }

    static void MakeSocket(const std::string& path)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }

    Outcome Scan(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--signatures", kvd_, "--max-size", "10"});
        args.push_back(tree_.path("scan"));
        return RunScanUnprivileged(args);
    }

    TempTree tree_;
    std::string kvd_;
};

TEST_F(ScanOutcomeTest, EachEntryEndsInOneOutcome)
{
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string counts;  // the summary lines from "Unreadable" to "Scan"
    };
    const std::vector<Case> cases = {
        {"everything", {}, kFound,
            "Unreadable: 2\nFiles with hits: 5\nClean: 3\nToo large: 1\nNot regular files: 4\nExcluded: 0\nEntries "
            "met: 15\n"
            "Scan: incomplete (some entries could not be read)\n"},
        {"a folder and files excluded by name, pattern and path",
            {"--exclude", "cache", "--exclude", "*.tmp", "--exclude", tree_.path("scan/d*p"), "--exclude",
                tree_.path("scan/closed/")},
            kFound,
            "Unreadable: 0\nFiles with hits: 1\nClean: 3\nToo large: 1\nNot regular files: 4\nExcluded: 4\nEntries "
            "met: 13\n"
            "Scan: complete\n"},
        {"a pattern with a slash is anchored", {"--exclude", "scan/cache", "--exclude", "deep/*"}, kFound,
            "Unreadable: 2\nFiles with hits: 5\nClean: 3\nToo large: 1\nNot regular files: 4\nExcluded: 0\nEntries "
            "met: 15\n"
            "Scan: incomplete (some entries could not be read)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = Scan(c.args);
        EXPECT_EQ(outcome.status, c.status);
        const std::size_t from = outcome.err.find("Unreadable:");
        const std::size_t to = outcome.err.find("Time:");
        ASSERT_NE(to, std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.err.substr(from, to - from), c.counts) << outcome.err;
    }
}

TEST_F(ScanOutcomeTest, ExitStatus)
{
    const std::string clean = "--exclude=*hit*";
    const std::string noCache = "--exclude=cache";
    const std::string noTmp = "--exclude=*.tmp";
    const std::string unreadable = "--exclude=locked";
    const std::string closed = "--exclude=closed";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {"hits and unreadable entries", {}, kFound},
        {"hits and unreadable entries, strict", {"--strict"}, kFound},
        {"nothing found, unreadable entries", {clean, noCache, noTmp}, kNothingFound},
        {"nothing found, unreadable entries, strict", {"--strict", clean, noCache, noTmp}, kIncomplete},
        {"nothing found, an unreadable file, strict", {"--strict", clean, noCache, noTmp, closed}, kIncomplete},
        {"nothing found, every file read, strict", {"--strict", clean, noCache, noTmp, closed, unreadable},
            kNothingFound},
        {"a FOLDER that cannot be opened, then hits", {tree_.path("missing")}, kFound},
        {"a FOLDER that cannot be opened, nothing found",
            {clean, noCache, noTmp, closed, unreadable, tree_.path("missing")}, kCannotScan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Scan(c.args).status, c.status);
    }

    ::chmod(tree_.path("scan").c_str(), 0);
    const Outcome top = Scan({});
    EXPECT_EQ(top.status, kCannotScan);
    EXPECT_NE(top.err.find("is not a folder that can be read (Permission denied)"), std::string::npos) << top.err;
}

TEST(ScanOneFileSystem, FoldersOnOtherFileSystemsAreNotEntered)
{
    struct stat dev { };
    struct stat shm { };
    if (::stat("/dev", &dev) != 0 || ::stat("/dev/shm", &shm) != 0 || dev.st_dev == shm.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a file system of its own";
    TempTree tree;
    const std::string kvd = tree.file("sa.kvd", DigestOf("evil") + "=Evil").native();
    char folder[] = "/dev/shm/qirn-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string hit = std::string(folder) + "/hit";
    std::FILE* file = std::fopen(hit.c_str(), "w");
    std::fputs("evil", file);
    std::fclose(file);

    const Outcome all = test::RunScan({"-s", kvd, "/dev"});
    const Outcome one = test::RunScan({"-s", kvd, "-x", "/dev"});
    std::filesystem::remove_all(folder);
    EXPECT_NE(all.out.find(hit + ": Evil FOUND"), std::string::npos) << all.out;
    EXPECT_EQ(one.out.find(hit), std::string::npos) << one.out;
    EXPECT_EQ(one.err.find("Excluded: 0\n"), std::string::npos) << one.err;
}

}  // namespace
}  // namespace qirn
