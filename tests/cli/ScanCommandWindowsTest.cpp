// qirn-scan on Windows: UTF-8 paths with the native separator on its output,
// the exit statuses of the Linux build.

#include "cli/ScanCommand.h"
#include "engine/digest/Digest.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qirn {
namespace {

using test::TempTree;

std::string DigestOf(std::string_view content)
{
    Md5 md5;
    return mdlMD5::DigestToHex(md5.Compute(std::as_bytes(std::span(content.data(), content.size()))));
}

// What the command writes to one stream, through a real file.
class Capture {
public:
    Capture() : file_(std::tmpfile()) { }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture() { std::fclose(file_); }
    std::FILE* File() const { return file_; }
    std::string Take()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            text.append(buffer, got);
        return text;
    }

private:
    std::FILE* file_;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunScan(const std::vector<std::string>& args)
{
    Capture out;
    Capture err;
    Outcome outcome;
    EXPECT_NE(out.File(), nullptr);
    outcome.status = RunScanCommand(args, out.File(), err.File());
    outcome.out = out.Take();
    outcome.err = err.Take();
    return outcome;
}

TEST(ScanCommandWindowsTest, PrintsUtf8PathsAndExitsAsOnLinux)
{
    TempTree tree;
    tree.file("sa.kvd", DigestOf("evil") + "=Evil\r\n");
    const std::string kvd = tree.path("sa.kvd");
    const std::string cyrillic = "\xd0\xb2\xd0\xb8\xd1\x80\xd1\x83\xd1\x81";
    const std::string chinese = "\xe6\x96\x87\xe4\xbb\xb6.exe";
    tree.file("scan/" + cyrillic + "/" + chinese, "evil");
    tree.file("clean/a.txt", "fine");

    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string errHas;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {"hit", {"--jobs", "1", "--signatures", kvd, tree.path("scan")}, kFound,
            tree.path("scan") + "\\" + cyrillic + "\\" + chinese + ": Evil FOUND\n", ""},
        {"hit, threads", {"--jobs", "2", "--signatures", kvd, tree.path("scan") + "\\"}, kFound,
            tree.path("scan") + "\\" + cyrillic + "\\" + chinese + ": Evil FOUND\n", ""},
        {"clean", {"--signatures", kvd, tree.path("clean")}, kNothingFound, "", ""},
        {"missing folder", {"--signatures", kvd, tree.path("absent")}, kCannotScan, "", ""},
        {"missing signatures", {"--signatures", tree.path("absent.kvd"), tree.path("scan")}, kCannotScan, "", ""},
        // This build keeps no digest cache.
        {"no cache", {"--no-cache", "--signatures", kvd, tree.path("clean")}, kNothingFound, "", ""},
        {"cache file", {"--cache", tree.path("c.db"), "--signatures", kvd, tree.path("scan")}, kCannotScan, "",
            "qirn-scan: --cache is not available: this build keeps no digest cache\n"},
        {"rematch", {"--rematch", "--signatures", kvd, tree.path("scan")}, kCannotScan, "",
            "qirn-scan: --rematch is not available: this build keeps no digest cache\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = RunScan(c.args);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_NE(outcome.err.find(c.errHas), std::string::npos) << outcome.err;
    }
}

}  // namespace
}  // namespace qirn
