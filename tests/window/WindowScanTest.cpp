// The window's shape of a walk's events: the report's detection lines, the
// infection list and the counter, with the exact bytes of a file's name.

#include "window/WindowScan.h"
#include "engine/scan/FindFiles.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"
#include "tests/window/WindowDoubles.h"

#include <gtest/gtest.h>

namespace qirn {
namespace {

using test::DigestOf;

struct WindowScan {
    SignatureList signatures;
    test::MemoryInfections infections;
    test::MemoryReport report;
    test::MemoryCaption scanned;
    ScanCounter counter{scanned};
    test::MemoryCaption current;
    test::HookedPump events;
    ScanElements elements{signatures, infections, report, counter, current, events};
    WindowSink sink{elements};

    void Scan(const std::string& folder)
    {
        mdlFindFiles::FindFiles(folder, mdlFindFiles::kAllFiles, {signatures, sink, {}});
    }
};

TEST(WindowScanTest, EachHitIsADetectionLineAndAnInfectionInListOrder)
{
    const std::string odd = "bad\xff\xfe-\xc3(";
    test::TempTree tree;
    tree.file("sample.exe", "evil");
    tree.file("sub/" + odd, "evil");
    tree.file("sub/clean", "fine");
    WindowScan scan;
    scan.signatures.Append(DigestOf("evil"), "First");
    scan.signatures.Append(DigestOf("other"), "Other");
    scan.signatures.Append(DigestOf("evil"), "Second");
    scan.report.text = "before";
    std::vector<std::string> shownAtPass;
    scan.events.onYield = [&] { shownAtPass.push_back(scan.current.Text()); };
    scan.Scan(tree.path());

    EXPECT_EQ(scan.report.text,
        "before\r\nFile sample.exe was detected as First\r\nFile sample.exe was detected as Second"
        "\r\nFile " +
            odd + " was detected as First\r\nFile " + odd + " was detected as Second");
    ASSERT_EQ(scan.infections.hits.size(), 4u);
    EXPECT_EQ(scan.infections.hits[1].signatureName, "Second");
    EXPECT_EQ(scan.infections.hits[2].path.native(), tree.path("sub/" + odd));
    EXPECT_EQ(scan.infections.hits[3].digest, scan.infections.hits[0].digest);
    EXPECT_EQ(scan.counter.Total(), 3u);
    EXPECT_EQ(scan.scanned.Text(), "3");
    // The name is shown before the events run, once per file.
    EXPECT_EQ(shownAtPass, scan.current.History());
    EXPECT_EQ(shownAtPass.size(), 3u);
}

// A name that holds a line break or an escape is shown escaped, so that it
// can neither forge a report line nor split a list row; other names keep
// their bytes, and the hit keeps the file's own path for Delete.
TEST(WindowScanTest, ControlCharactersInANameAreShownEscaped)
{
    const std::string forged = "z\nFile forged.exe was detected as Nothing\x1b[2J";
    test::TempTree tree;
    tree.file(forged, "evil");
    WindowScan scan;
    scan.signatures.Append(DigestOf("evil"), "Evil");
    scan.Scan(tree.path());
    EXPECT_EQ(scan.report.text, "\r\nFile z\\nFile forged.exe was detected as Nothing\\x1b[2J was detected as Evil");
    ASSERT_EQ(scan.infections.hits.size(), 1u);
    EXPECT_EQ(scan.infections.hits[0].path.native(), tree.path(forged));
}

}  // namespace
}  // namespace qirn
