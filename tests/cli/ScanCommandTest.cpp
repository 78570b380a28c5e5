#include "cli/ScanCommand.h"
#include "tests/TempTree.h"
#include "tests/cli/CommandRun.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qirn {
namespace {

using test::DigestOf;
using test::Outcome;
using test::RunScan;
using test::Sha256Of;
using test::TempTree;

class ScanCommandTest : public ::testing::Test {
protected:
    // The default digest cache goes into the test's own folder.
    // Set before any scan thread runs.
    ScanCommandTest() { ::setenv("XDG_CACHE_HOME", tree_.path("xdg").c_str(), 1); }  // NOLINT(concurrency-mt-unsafe)

    std::string Signatures(const std::string& text) { return tree_.file("sa.kvd", text).native(); }

    TempTree tree_;
};

TEST_F(ScanCommandTest, PrintsEachHitInWalkOrderAndExitsOne)
{
    const std::string odd = "odd\xff name";
    tree_.file("scan/a.exe", "evil");
    tree_.file("scan/clean.txt", "fine");
    tree_.file("scan/sub/" + odd, "worse");
    const std::string kvd = Signatures(
        DigestOf("evil") + "=Evil.A\r\n" + DigestOf("worse") + "=Worse.B\n" + DigestOf("evil") + "=Evil.Again\r\n");

    const Outcome outcome = RunScan({"--signatures", kvd, tree_.path("scan")});
    EXPECT_EQ(outcome.status, kFound);
    EXPECT_EQ(outcome.out,
        tree_.path("scan") + "/a.exe: Evil.A FOUND\n" + tree_.path("scan") + "/a.exe: Evil.Again FOUND\n" +
            tree_.path("scan") + "/sub/" + odd + ": Worse.B FOUND\n");
    EXPECT_NE(outcome.err.find("Signatures loaded: 3\n"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("Files examined: 3\n"), std::string::npos);
    EXPECT_NE(outcome.err.find("Hits: 3\n"), std::string::npos);
    EXPECT_NE(outcome.err.find("Unreadable: 0\n"), std::string::npos);
    EXPECT_NE(outcome.err.find("Time: "), std::string::npos);
}

TEST_F(ScanCommandTest, Sha256SignaturesHitInListOrderAndJsonLinesCarryBothDigests)
{
    tree_.file("scan/a.exe", "evil");
    tree_.file("scan/sub/b.txt", "worse");
    std::string upper = Sha256Of("worse");
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string kvd = Signatures(Sha256Of("evil") + "=Evil.Sha\r\n" + DigestOf("evil") + "=Evil.Md5\r\n" +
        Sha256Of("evil") + "=Evil.Sha.Again\r\n" + upper + "=Upper.Never\r\n" + DigestOf("worse") + "=Worse\r\n");

    const Outcome text = RunScan({"--signatures", kvd, tree_.path("scan")});
    EXPECT_EQ(text.status, kFound);
    EXPECT_EQ(text.out,
        tree_.path("scan") + "/a.exe: Evil.Sha FOUND\n" + tree_.path("scan") + "/a.exe: Evil.Md5 FOUND\n" +
            tree_.path("scan") + "/a.exe: Evil.Sha.Again FOUND\n" + tree_.path("scan") + "/sub/b.txt: Worse FOUND\n");

    const Outcome json = RunScan({"--signatures", kvd, "--format", "jsonl", tree_.path("scan")});
    EXPECT_NE(
        json.out.find(R"("md5":")" + DigestOf("evil") + R"(","sha256":")" + Sha256Of("evil") + '"'), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find(R"("sha256":")" + Sha256Of("worse") + '"'), std::string::npos) << json.out;
}

TEST_F(ScanCommandTest, CleanTreeExitsZeroAndSeveralFoldersAreScanned)
{
    tree_.file("one/a", "fine");
    tree_.file("two/b", "evil");
    const std::string kvd = Signatures(DigestOf("evil") + "=Evil");
    EXPECT_EQ(RunScan({"--signatures=" + kvd, tree_.path("one")}).status, kNothingFound);

    const Outcome both = RunScan({"-s", kvd, "--jobs", "2", tree_.path("one"), tree_.path("two") + "/"});
    EXPECT_EQ(both.status, kFound);
    EXPECT_EQ(both.out, tree_.path("two") + "/b: Evil FOUND\n");
    EXPECT_NE(both.err.find("Files examined: 2\n"), std::string::npos);
}

TEST_F(ScanCommandTest, CannotScan)
{
    tree_.file("scan/a", "x");
    tree_.file("plain", "x");
    const std::string good = Signatures("0cc175b9c0f1b6a831c399e269772661=A");
    tree_.file("bad.kvd", "0cc175b9c0f1b6a831c399e269772661=A\r\nno separator\r\n");
    tree_.file("empty.kvd", "");

    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing signature file", {"--signatures", tree_.path("absent.kvd"), tree_.path("scan")},
            "No such file or directory"},
        {"line without =", {"--signatures", tree_.path("bad.kvd"), tree_.path("scan")}, "line 2 has no \"=\""},
        {"empty signature file", {"--signatures", tree_.path("empty.kvd"), tree_.path("scan")}, "no signature line"},
        {"missing folder", {"--signatures", good, tree_.path("absent")}, "is not a folder"},
        {"a folder path through a file", {"--signatures", good, tree_.path("plain") + "/"}, "is not a folder"},
        {"no folder", {"--signatures", good}, "no folder or file to scan"},
        {"unknown option", {"--fast", tree_.path("scan")}, "unknown option"},
        {"option without value", {tree_.path("scan"), "--signatures"}, "needs a file"},
        {"no jobs", {"--jobs=0", tree_.path("scan")}, "--jobs needs a number"},
        {"jobs not a number", {"--jobs", "2x", tree_.path("scan")}, "--jobs needs a number"},
        {"unknown format", {"--format", "xml", tree_.path("scan")}, "--format needs text or jsonl"},
        {"negative size", {"--max-size=-1", tree_.path("scan")}, "--max-size needs a number"},
        {"size beyond the limit", {"--max-size", "2147483647", tree_.path("scan")}, "--max-size needs a number"},
        {"empty pattern", {"--exclude=", tree_.path("scan")}, "--exclude needs a pattern"},
        {"value for a switch", {"--strict=yes", tree_.path("scan")}, "unknown option"},
        {"rematch without cache", {"--rematch", "--no-cache", tree_.path("scan")}, "--rematch needs the digest cache"},
        {"rematch of a file", {"--rematch", "--signatures", good, tree_.path("plain")}, "--rematch takes folders"},
        {"cache without file", {tree_.path("scan"), "--cache"}, "--cache needs a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = RunScan(c.args);
        EXPECT_EQ(outcome.status, kCannotScan);
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.find("Usage:"), std::string::npos) << outcome.err;
    }
    // A usage error is one line and where the help is, never the help itself.
    EXPECT_EQ(RunScan({"--fast", tree_.path("scan")}).err,
        "qirn-scan: unknown option --fast\nTry 'qirn-scan --help' for more information.\n");
}

// A FILE is scanned alone, and told exactly as the walk of its folder tells it.
TEST_F(ScanCommandTest, FileIsScannedAsItsFolderWouldBe)
{
    const std::string hit = tree_.file("scan/a.exe", "evil").native();
    tree_.file("scan/clean.txt", "fine");
    tree_.file("scan/big.bin", std::string(100, 'b'));
    tree_.link("scan/alias.exe", tree_.root() / "scan/a.exe");
    tree_.fifo("scan/pipe");
    const std::string kvd = Signatures(DigestOf("evil") + "=Evil\n" + Sha256Of("evil") + "=Evil.Sha\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string told;  // a line of standard error
    };
    const std::string found = hit + ": Evil FOUND\n" + hit + ": Evil.Sha FOUND\n";
    const std::vector<Case> cases = {
        {"a hit", {hit}, kFound, found, "Files examined: 1\n"},
        {"the same hit through the folder", {"--exclude=*.txt", tree_.path("scan")}, kFound, found,
            "Files with hits: 1\n"},
        {"on several jobs", {"-j", "3", hit}, kFound, found, "Entries met: 1\n"},
        {"a clean file", {tree_.path("scan/clean.txt")}, kNothingFound, "", "Clean: 1\n"},
        {"beyond --max-size", {"--max-size", "99", tree_.path("scan/big.bin")}, kNothingFound, "", "Too large: 1\n"},
        {"excluded by name", {"--exclude", "*.exe", hit}, kNothingFound, "", "Excluded: 1\n"},
        {"excluded by path", {"--exclude", hit, hit}, kNothingFound, "", "Excluded: 1\n"},
        {"a link", {tree_.path("scan/alias.exe")}, kNothingFound, "", "is a link, which is not followed"},
        {"a FIFO", {tree_.path("scan/pipe")}, kNothingFound, "", "Not regular files: 1\n"},
        {"a file and a folder", {hit, tree_.path("scan")}, kFound, found + found, "Hits: 4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--signatures", kvd};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome outcome = RunScan(args);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_NE(outcome.err.find(c.told), std::string::npos) << outcome.err;
    }
    const Outcome json = RunScan({"--signatures", kvd, "--format", "jsonl", hit});
    EXPECT_NE(json.out.find(R"({"type":"hit","path":")" + hit + R"(","signature":"Evil")"), std::string::npos)
        << json.out;
}

TEST_F(ScanCommandTest, FolderGivenAsLinkIsFollowed)
{
    tree_.file("real/a", "evil");
    tree_.link("alias", tree_.root() / "real");
    const Outcome outcome = RunScan({"--signatures", Signatures(DigestOf("evil") + "=Evil"), tree_.path("alias")});
    EXPECT_EQ(outcome.status, kFound);
    EXPECT_EQ(outcome.out, tree_.path("alias") + "/a: Evil FOUND\n");
}

TEST_F(ScanCommandTest, CacheFileIsChosenOrNotUsed)
{
    tree_.file("scan/a", "evil");
    const std::string kvd = Signatures(DigestOf("evil") + "=Evil");
    const std::string defaultCache = tree_.path("xdg/qirn-checker/digests.sqlite");
    struct Case {
        std::vector<std::string> options;
        std::string cacheFile;
    };
    const std::vector<Case> cases = {
        {{"--no-cache"}, ""},
        {{"--cache", tree_.path("mine.db")}, tree_.path("mine.db")},
        {{"--cache=" + tree_.path("other.db")}, tree_.path("other.db")},
        {{}, defaultCache},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cacheFile);
        for (int run = 0; run < 2; ++run) {
            std::vector<std::string> args = c.options;
            args.insert(args.end(), {"--signatures", kvd, tree_.path("scan")});
            const Outcome outcome = RunScan(args);
            EXPECT_EQ(outcome.status, kFound);
            EXPECT_EQ(outcome.out, tree_.path("scan") + "/a: Evil FOUND\n");
            EXPECT_NE(outcome.err.find("Files examined: 1\n"), std::string::npos) << outcome.err;
        }
        EXPECT_EQ(std::filesystem::exists(defaultCache), c.cacheFile == defaultCache);
        EXPECT_TRUE(c.cacheFile.empty() || std::filesystem::exists(c.cacheFile));
    }
}

TEST_F(ScanCommandTest, RematchReportsCachedDigestsOnlyAfterReadingThemAgain)
{
    tree_.file("scan/kept", "bad one");
    tree_.file("scan/sub/changed", "bad two");
    std::filesystem::create_hard_link(tree_.path("scan/kept"), tree_.path("scan/sub/linked"));
    tree_.file("scan/clean", "fine");
    tree_.file("elsewhere/bad", "bad one");
    // The second folder through a link: the cache keeps real paths for each folder of a scan.
    tree_.link("to-elsewhere", tree_.root() / "elsewhere");
    const std::string cache = tree_.path("cache.db");
    RunScan({"--cache", cache, "--signatures", Signatures(DigestOf("x") + "=X"), tree_.path("scan"),
        tree_.path("to-elsewhere")});
    tree_.file("scan/sub/changed", "now good");
    tree_.file("scan/new", "bad one");

    const std::string kvd = Signatures(DigestOf("bad one") + "=Bad.One\n" + DigestOf("bad two") + "=Bad.Two\n");
    const Outcome outcome = RunScan({"--rematch", "--cache", cache, "--signatures", kvd, tree_.path("scan") + "/"});
    EXPECT_EQ(outcome.status, kFound);
    // Each name of a hard-linked file, as a scan reports them.
    EXPECT_EQ(outcome.out,
        tree_.path("scan") + "/kept: Bad.One FOUND\n" + tree_.path("scan") + "/sub/linked: Bad.One FOUND\n");
    EXPECT_NE(outcome.err.find("files new or changed since their last scan are not covered"), std::string::npos);
    EXPECT_NE(outcome.err.find("Cached digests checked: 4\n"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("Matched but changed since their last scan: 1\n"), std::string::npos);

    const Outcome other = RunScan({"--rematch", "--cache", cache, "--signatures", kvd, tree_.path("elsewhere")});
    EXPECT_EQ(other.out, tree_.path("elsewhere") + "/bad: Bad.One FOUND\n") << other.err;
}

// A file the scan read under a larger --max-size is not changed for a
// rematch under a smaller one: it is left as such a scan would leave it.
TEST_F(ScanCommandTest, RematchLeavesFilesBeyondItsOwnSizeLimit)
{
    const std::string big(90000, 'b');
    tree_.file("scan/big", big);
    const std::string cache = tree_.path("cache.db");
    const std::string kvd = Signatures(DigestOf(big) + "=Big\n");
    ASSERT_EQ(
        RunScan({"--cache", cache, "--max-size", "100000", "--signatures", kvd, tree_.path("scan")}).status, kFound);

    const Outcome small = RunScan({"--rematch", "--cache", cache, "--signatures", kvd, tree_.path("scan")});
    EXPECT_EQ(small.status, kNothingFound);
    EXPECT_NE(small.err.find("Matched but changed since their last scan: 0\n"), std::string::npos) << small.err;
    EXPECT_NE(small.err.find("Larger than --max-size (83000 bytes), not read: 1\n"), std::string::npos) << small.err;

    const Outcome large =
        RunScan({"--rematch", "--cache", cache, "--max-size", "100000", "--signatures", kvd, tree_.path("scan")});
    EXPECT_EQ(large.out, tree_.path("scan") + "/big: Big FOUND\n") << large.err;
}

TEST_F(ScanCommandTest, Sha256SignaturesAreFoundThroughACacheThatHeldOnlyMd5)
{
    tree_.file("scan/evil", "evil");
    tree_.file("scan/fine", "fine");
    const std::string cache = tree_.path("cache.db");
    RunScan({"--cache", cache, "--signatures", Signatures(DigestOf("x") + "=X"), tree_.path("scan")});

    const std::string kvd = Signatures(Sha256Of("evil") + "=Evil.Sha\n");
    struct Step {
        bool rematch;
        const char* told;  // on standard error
    };
    // The first rematch reads both files once for their SHA-256; the second finds it kept.
    for (const Step step : {Step{true, "Read again for their SHA-256: 2\n"}, Step{false, "Files examined: 2\n"},
             Step{true, "Read again for their SHA-256: 0\n"}}) {
        std::vector<std::string> args{"--cache", cache, "--signatures", kvd, tree_.path("scan")};
        if (step.rematch)
            args.insert(args.begin(), "--rematch");
        const Outcome outcome = RunScan(args);
        EXPECT_EQ(outcome.status, kFound);
        EXPECT_EQ(outcome.out, tree_.path("scan") + "/evil: Evil.Sha FOUND\n");
        EXPECT_NE(outcome.err.find(step.told), std::string::npos) << outcome.err;
    }
}

TEST_F(ScanCommandTest, HelpExplainsTheExitStatusAndVersionIsOneLine)
{
    const Outcome outcome = RunScan({"--help"});
    EXPECT_EQ(outcome.status, kNothingFound);
    EXPECT_NE(outcome.out.find("Exit status"), std::string::npos);
    EXPECT_NE(outcome.out.find("--signatures FILE"), std::string::npos);
    EXPECT_NE(outcome.out.find("--version"), std::string::npos);

    // Before anything else: no folder is needed, none is scanned.
    const Outcome version = RunScan({tree_.path("absent"), "--version"});
    EXPECT_EQ(version.status, kNothingFound);
    EXPECT_EQ(version.out, "qirn-scan " QIRN_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

}  // namespace
}  // namespace qirn
