// Whole scans through the window: the report block, the counters and the
// control states after a normal end, after Stop, and when sa.kvd is missing.

#include "tests/TestDoubles.h"
#include "tests/ui/FormFixture.h"
#include "window/StopScan.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <sys/resource.h>

namespace qirn::uitest {
namespace {

class ScanWindow : public FormFixture {
protected:
    void MakeTree()
    {
        folder.file("tree/eicar.com", kEicar);
        folder.file("tree/readme.txt", "not a virus");
        folder.file("tree/docs/hello.txt", "hello");
        folder.file("tree/docs/big.bin", std::string(83001, 'x'));
    }

    // Runs during the first yield of the walk.
    void DuringScan(std::function<void()> action) { QTimer::singleShot(0, form.get(), std::move(action)); }

    struct Idle {
        bool scan, stop, browse, save, clear, report, elapsedTimer;
        Qt::CheckState editReport;
        int progress;
    };
    Idle State() const
    {
        return {Get<QPushButton>("cmdScan")->isEnabled(), Get<QPushButton>("cmdStop")->isEnabled(),
            Get<QLabel>("lblBrowse")->isEnabled(), Get<QPushButton>("cmdSave")->isEnabled(),
            Get<QPushButton>("cmdCl")->isEnabled(), Editable(Get<QPlainTextEdit>("txtRep")),
            Get<QTimer>("tmrEl")->isActive(), Get<QCheckBox>("chkChg")->checkState(),
            Get<QProgressBar>("pgbStatus")->value()};
    }
    void ExpectIdle(bool reportEnabled) const
    {
        const Idle state = State();
        EXPECT_TRUE(state.scan);
        EXPECT_FALSE(state.stop);
        EXPECT_TRUE(state.browse);
        EXPECT_TRUE(state.save);
        EXPECT_TRUE(state.clear);
        EXPECT_EQ(state.report, reportEnabled);
        EXPECT_FALSE(state.elapsedTimer);
        EXPECT_EQ(state.editReport, Qt::Unchecked);
        EXPECT_EQ(state.progress, 1000);
    }

    std::vector<QString> Items(const char* list) const
    {
        std::vector<QString> items;
        const auto* widget = Get<QListWidget>(list);
        for (int i = 0; i < widget->count(); ++i)
            items.push_back(widget->item(i)->text());
        return items;
    }
};

TEST_F(ScanWindow, ScanOfATreeWithHitsReportsThemAndReturnsToIdle)
{
    MakeTree();
    Click("cmdScan");

    EXPECT_EQ(form->Report(),
        "\r\nA scan was started at : 12/7/26 09:30:00"
        "\r\nFile eicar.com was detected as EICAR-Test-File"
        "\r\nFile hello.txt was detected as Hello.Greeting"
        "\r\nA scan was finished at : 12/7/26 09:30:00\r\n");
    EXPECT_EQ(Get<QPlainTextEdit>("txtRep")->toPlainText(),
        QStringLiteral("\nA scan was started at : 12/7/26 09:30:00\nFile eicar.com was detected as "
                       "EICAR-Test-File\nFile hello.txt was detected as Hello.Greeting\nA scan was "
                       "finished at : 12/7/26 09:30:00\n"));
    EXPECT_EQ(
        Items("lstVNa"), (std::vector<QString>{QStringLiteral("EICAR-Test-File"), QStringLiteral("Hello.Greeting")}));
    EXPECT_EQ(Items("lstVPt"),
        (std::vector<QString>{QString::fromStdString(folder.path("tree/eicar.com")),
            QString::fromStdString(folder.path("tree/docs/hello.txt"))}));
    EXPECT_EQ(Text("lblScnd"), QStringLiteral("3"));
    EXPECT_EQ(form->Counter().Total(), 3u);
    EXPECT_EQ(Text("lblCur"), QStringLiteral("Finished"));
    EXPECT_EQ(Text("lblStrt"), QStringLiteral("09:30:00"));
    EXPECT_EQ(Text("lblEl"), QStringLiteral("00:00:00"));
    EXPECT_EQ(Text("lblFin"), QStringLiteral("09:30:00"));
    ExpectIdle(false);

    Tick("tmrAbc");
    EXPECT_EQ(Text("lblFnd"), QStringLiteral("2"));
    EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0"));
}

TEST_F(ScanWindow, WhileScanningTheControlsAreInTheScanningState)
{
    MakeTree();
    Get<QProgressBar>("pgbStatus")->setValue(0);
    bool checked = false;
    DuringScan([&] {
        const Idle state = State();
        EXPECT_FALSE(state.scan);
        EXPECT_TRUE(state.stop);
        EXPECT_FALSE(state.browse);
        EXPECT_FALSE(state.save);
        EXPECT_FALSE(state.clear);
        EXPECT_FALSE(state.report);
        EXPECT_TRUE(state.elapsedTimer);
        EXPECT_EQ(state.editReport, Qt::PartiallyChecked);
        EXPECT_EQ(state.progress, 500);
        EXPECT_EQ(Text("lblFin"), QStringLiteral("Not available"));
        Tick("tmrAbc");
        EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0 - On Duty"));
        clock.seconds += 3 * 3600 + 62;
        Tick("tmrEl");
        EXPECT_EQ(Text("lblEl"), QStringLiteral("03:01:02"));
        Click("lblAbout");  // navigation does not disturb the scan
        checked = true;
    });
    Click("cmdScan");
    EXPECT_TRUE(checked);
    EXPECT_EQ(form->Counter().Total(), 3u);
    EXPECT_EQ(Text("lblFin"), QStringLiteral("12:31:02"));
    ExpectIdle(false);
}

TEST_F(ScanWindow, StopEndsTheScanAndLeavesTheReportEditable)
{
    for (int i = 0; i < 20; ++i)
        folder.file("tree/file" + std::to_string(i), "hello");
    DuringScan([this] { Click("cmdStop"); });
    Click("cmdScan");

    EXPECT_EQ(form->Counter().Total(), 1u);
    EXPECT_EQ(Items("lstVNa").size(), 1u);
    EXPECT_TRUE(
        form->Report().ends_with("was detected as Hello.Greeting\r\nA scan was finished at : 12/7/26 09:30:00\r\n"));
    EXPECT_EQ(Text("lblCur"), QStringLiteral("Finished"));
    EXPECT_EQ(mdlFindFiles::StopScan, -1);
    // The second end finds "Edit Report" already unticked, so the box stays enabled.
    ExpectIdle(true);
}

TEST_F(ScanWindow, RejectedSignatureFileAtScanWritesOnlyAFinishLineAndSaysWhy)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"missing", [this] { std::filesystem::remove(folder.root() / "app/sa.kvd"); }, "sa.kvd is missing"},
        {"a line without =", [this] { folder.file("app/sa.kvd", std::string(kEicarMd5) + "=EICAR\r\nbroken\r\n"); },
            "sa.kvd: line 2 has no \"=\""},
        {"empty", [this] { folder.file("app/sa.kvd", ""); }, "sa.kvd holds no signature line"},
    };
    MakeTree();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Click("cmdCl");
        c.make();
        Get<QProgressBar>("pgbStatus")->setValue(0);
        std::vector<int> progress;
        const auto watch = QObject::connect(Get<QProgressBar>("pgbStatus"), &QProgressBar::valueChanged, form.get(),
            [&progress](int value) { progress.push_back(value); });

        Click("cmdScan");
        QObject::disconnect(watch);

        // Only the finish line reaches the report; the Scanner panel says why.
        const std::string why = std::string("No signature loaded: ") + c.why;
        EXPECT_EQ(form->Report(), "\r\nA scan was finished at : 12/7/26 09:30:00\r\n");
        EXPECT_EQ(Text("lblScanNote"), QString::fromStdString(why));
        EXPECT_TRUE(Get<QLabel>("lblScanNote")->isVisibleTo(form.get()));
        EXPECT_TRUE(Items("lstVNa").empty());
        EXPECT_EQ(Text("lblScnd"), QStringLiteral("Not available"));
        ASSERT_EQ(progress.size(), 500u);
        EXPECT_EQ(progress.front(), 501);
        ExpectIdle(false);
        // The Signatures panel says the same from the next refresh on.
        Tick("tmrAbc");
        EXPECT_EQ(Text("lblTot"), QStringLiteral("0 signatures"));
        EXPECT_EQ(Text("lblSigErr"), QString::fromStdString(why));
    }
    folder.file("app/sa.kvd", std::string(kEicarMd5) + "=EICAR\r\n");
    Tick("tmrAbc");
    EXPECT_EQ(Text("lblSigErr"), QString());
    Click("cmdScan");
    EXPECT_EQ(Text("lblScanNote"), QStringLiteral("Left out: 1 file over 83000 bytes"));
}

// A listed file over the size limit is not read: the Scanner panel says how
// many were left out, and MaxSize in qirn-checker.ini moves the limit. A
// size that cannot be used stops scans, and updates, until it is mended.
TEST_F(ScanWindow, FilesLeftOutAreCountedOnThePanelAndTheLimitIsASetting)
{
    const std::string big(200'000, 'b');
    folder.file("tree/big.bin", big);
    folder.file("tree/small.txt", "small");
    folder.file("app/sa.kvd", test::DigestOf(big) + "=Big.One\r\n");
    Tick("tmrAbc");
    struct Step {
        const char* ini;  // nullptr: none
        const char* note;
        std::size_t hits;
        bool updates;
    };
    const Step steps[] = {
        {nullptr, "Left out: 1 file over 83000 bytes", 0, true},
        {"[Scan]\nMaxSize=300000\n", "", 1, true},
        {"[Scan]\nMaxSize=199999\n", "Left out: 1 file over 199999 bytes", 1, true},
        {"[Scan]\nMaxSize=lots\n",
            "Scan/MaxSize is not a number of bytes from 0 to 2147483646 in qirn-checker.ini: no scan is made until it "
            "is mended",
            1, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.note);
        if (step.ini != nullptr)
            folder.file("app/qirn-checker.ini", step.ini);
        Click("cmdCl");
        Click("cmdScan");
        Tick("tmrAbc");
        EXPECT_EQ(Text("lblScanNote"), QString::fromUtf8(step.note));
        EXPECT_EQ(Items("lstVNa").size(), step.hits);
        EXPECT_EQ(Get<QPushButton>("cmdUpdate")->isEnabled(), step.updates);
        EXPECT_EQ(form->Report().find("Left out"), std::string::npos);
    }
    EXPECT_EQ(form->Report(), "\r\nA scan was finished at : 12/7/26 09:30:00\r\n");
}

TEST_F(ScanWindow, QuitDuringAScanEndsTheProgramBeforeTheNextFile)
{
    for (int i = 0; i < 20; ++i)
        folder.file("tree/file" + std::to_string(i), "x");
    DuringScan([this] { Click("lblQuit"); });
    Click("cmdScan");
    EXPECT_EQ(programEnds, 1);
    EXPECT_FALSE(form->Tray().Present());
    EXPECT_EQ(form->Counter().Total(), 1u);
}

TEST_F(ScanWindow, ScanAfterClearStartsWithAnEmptyLineAndHitsAccumulate)
{
    MakeTree();
    Click("cmdScan");
    Click("cmdCl");
    Click("cmdScan");
    EXPECT_TRUE(form->Report().starts_with("\r\nA scan was started at : "));
    EXPECT_EQ(Items("lstVNa").size(), 4u);
}

TEST_F(ScanWindow, TreeDeeperThanTheOpenFileLimitIsScannedToTheBottom)
{
    folder.chain("tree/deep", 3000, "bottom.txt", "hello");
    folder.file("tree/zz-after/sibling.txt", "hello");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limited), 0);
    Click("cmdScan");
    ::setrlimit(RLIMIT_NOFILE, &saved);

    const std::vector<QString> paths = Items("lstVPt");
    ASSERT_EQ(paths.size(), 2u);
    const QString sibling = QString::fromStdString(folder.path("tree/zz-after/sibling.txt"));
    // The listing order of the two top folders is the file system's.
    const bool siblingFirst = paths[0] == sibling;
    EXPECT_EQ(paths[siblingFirst ? 0 : 1], sibling);
    EXPECT_TRUE(paths[siblingFirst ? 1 : 0].endsWith(QStringLiteral("/d/bottom.txt")));
    EXPECT_EQ(form->Counter().Total(), 2u);
}

TEST_F(ScanWindow, DigestCacheKeepsTheHitsAndNamesItselfOnlyWhenItCannotBeUsed)
{
    MakeTree();
    for (int scan = 1; scan <= 3; ++scan) {
        if (scan == 3) {
            std::filesystem::remove(folder.path("cache/digests.sqlite"));
            std::filesystem::create_directory(folder.path("cache/digests.sqlite"));
        }
        Click("cmdCl");
        Click("cmdScan");
        EXPECT_EQ(Items("lstVNa").size(), 2u * static_cast<unsigned>(scan));
        EXPECT_NE(form->Report().find("\r\nFile hello.txt was detected as Hello.Greeting"), std::string::npos);
        // The report keeps only its own lines; the Scanner panel names the cache.
        EXPECT_EQ(form->Report().find("digest cache"), std::string::npos) << form->Report();
        EXPECT_EQ(Text("lblScanNote").contains(QStringLiteral("digest cache ")), scan == 3);
    }
}

}  // namespace
}  // namespace qirn::uitest
