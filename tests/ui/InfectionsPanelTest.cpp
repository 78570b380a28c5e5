// The Infections panel, the folder chooser and "Update Now" in the window,
// on real files, with a loopback HTTP server for the download.

#include "cli/Quarantine.h"
#include "engine/remedy/QuarantineRecord.h"
#include "engine/text/JsonText.h"
#include "tests/ui/FormFixture.h"
#include "tests/update/LoopbackServer.h"
#include "ui/ReportBox.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn::uitest {
namespace {

namespace fs = std::filesystem;

class InfectionsPanelTest : public FormFixture {
protected:
    // Scans a tree of hits named after their index, in a known order: one
    // folder a level, one file each.
    std::vector<fs::path> ScanHits(const std::vector<std::string>& names)
    {
        std::vector<fs::path> files;
        std::string relative = "tree";
        for (const std::string& name : names) {
            files.push_back(folder.file(relative + "/" + name, kEicar));
            relative += "/d";
        }
        Click("cmdScan");
        EXPECT_EQ(Get<QListWidget>("lstVNa")->count(), static_cast<int>(names.size()));
        Click("lblInfect");
        return files;
    }

    void Select(int row) const
    {
        auto* names = Get<QListWidget>("lstVNa");
        const QRect area = names->visualItemRect(names->item(row));
        QTest::mouseClick(names->viewport(), Qt::LeftButton, {}, area.center());
    }

    std::vector<QString> Paths() const
    {
        std::vector<QString> paths;
        const auto* list = Get<QListWidget>("lstVPt");
        for (int i = 0; i < list->count(); ++i)
            paths.push_back(list->item(i)->text());
        return paths;
    }

    static QString Shown(const fs::path& path) { return QString::fromLocal8Bit(path.native().c_str()); }

    // The files Delete keeps in the quarantine folder, by name.
    std::vector<fs::path> Kept() const
    {
        std::vector<fs::path> kept;
        for (const fs::directory_entry& entry : fs::directory_iterator(quarantine)) {
            if (entry.path().extension() != ".json")
                kept.push_back(entry.path());
        }
        std::sort(kept.begin(), kept.end());
        return kept;
    }

    static std::uint32_t ModeOf(const fs::path& path)
    {
        struct stat info { };
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }
};

TEST_F(InfectionsPanelTest, SelectionAndScrollingKeepBothListsInStep)
{
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i)
        names.push_back("hit" + std::to_string(i));
    const std::vector<fs::path> files = ScanHits(names);
    auto* lstVNa = Get<QListWidget>("lstVNa");
    auto* lstVPt = Get<QListWidget>("lstVPt");

    Select(2);
    EXPECT_EQ(lstVPt->currentRow(), 2);
    EXPECT_EQ(Text("lblPav"), Shown(files[2]));

    lstVNa->verticalScrollBar()->setValue(11);
    EXPECT_EQ(lstVPt->verticalScrollBar()->value(), 11);
    EXPECT_EQ(lstVPt->indexAt(QPoint(2, 2)).row(), lstVNa->indexAt(QPoint(2, 2)).row());
    EXPECT_EQ(Text("lblPav"), Shown(files[2])) << "scrolling leaves lblPav alone";

    // Keyboard selection counts as a click.
    QTest::keyClick(lstVNa, Qt::Key_Down);
    EXPECT_EQ(lstVPt->currentRow(), 3);
    EXPECT_EQ(Text("lblPav"), Shown(files[3]));
}

TEST_F(InfectionsPanelTest, DeleteWithNothingSelectedSaysSo)
{
    Click("lblInfect");
    Click("cmdDel");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("No file is selected"));
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Can't Delete"));
    EXPECT_TRUE(messages.shown[0].warning);
}

TEST_F(InfectionsPanelTest, DeleteRemovesTheFileAndExactlyThatHit)
{
    const std::vector<fs::path> files = ScanHits({"first.exe", "second.exe", "third.exe"});
    Select(1);
    Click("cmdDel");

    EXPECT_FALSE(fs::exists(files[1]));
    EXPECT_TRUE(fs::exists(files[0]));
    EXPECT_TRUE(fs::exists(files[2]));
    EXPECT_EQ(Paths(), (std::vector<QString>{Shown(files[0]), Shown(files[2])}));
    EXPECT_EQ(Get<QListWidget>("lstVNa")->count(), 2);
    EXPECT_EQ(Text("lblPav"), Shown(files[1])) << "lblPav keeps the deleted path";
    EXPECT_TRUE(messages.shown.empty());

    // Once more: the file is gone, so nothing happens.
    Click("cmdDel");
    EXPECT_EQ(Paths().size(), 2u);
    EXPECT_TRUE(messages.shown.empty());

    // The next pointer movement over the list, with nothing selected, empties lblPav.
    QWidget* viewport = Get<QListWidget>("lstVNa")->viewport();
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 150), viewport->mapToGlobal(QPointF(3, 150)), Qt::NoButton,
        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    EXPECT_EQ(Text("lblPav"), QString());
}

TEST_F(InfectionsPanelTest, HitWhoseFileWasRemovedOutsideStays)
{
    const std::vector<fs::path> files = ScanHits({"gone.exe", "other.exe"});
    fs::remove(files[0]);
    Select(0);
    Click("cmdDel");
    EXPECT_EQ(Paths().size(), 2u);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(InfectionsPanelTest, HiddenFilesAndNamesThatAreNotUtf8AreDeleted)
{
    const std::vector<fs::path> files = ScanHits({".hidden.exe", "bad\xff\xfe.exe"});
    // Other names keep their bytes; one with a line break is shown escaped, one row.
    EXPECT_EQ(Paths()[1], Shown(files[1]));
    Select(1);
    Click("cmdDel");
    Select(0);
    Click("cmdDel");
    EXPECT_FALSE(fs::exists(fs::symlink_status(files[0])));
    EXPECT_FALSE(fs::exists(fs::symlink_status(files[1])));
    EXPECT_TRUE(Paths().empty());
}

TEST_F(InfectionsPanelTest, ANameWithALineBreakIsOneEscapedRowAndIsDeleted)
{
    const std::vector<fs::path> files = ScanHits({"two\nlines.exe"});
    ASSERT_EQ(Paths().size(), 1u);
    EXPECT_EQ(Paths()[0], Shown(files[0].parent_path()) + QStringLiteral("/two\\nlines.exe"));
    Select(0);
    Click("cmdDel");
    EXPECT_FALSE(fs::exists(fs::symlink_status(files[0])));
    EXPECT_TRUE(Paths().empty());
}

TEST_F(InfectionsPanelTest, FileReplacedAfterTheScanIsKeptAndTheUserIsTold)
{
    const fs::path precious = folder.file("precious.doc", "keep me");
    const std::vector<fs::path> files = ScanHits({"linked.exe", "swapped.exe"});
    fs::remove(files[0]);
    fs::create_symlink(precious, files[0]);
    fs::rename(folder.file("tree/d/innocent.txt", "innocent"), files[1]);

    for (int row : {0, 1}) {
        Select(row);
        Click("cmdDel");
    }
    EXPECT_TRUE(fs::is_symlink(files[0]));
    EXPECT_EQ(TestFolder::read(files[1]), "innocent");
    EXPECT_EQ(TestFolder::read(precious), "keep me");
    EXPECT_EQ(Paths().size(), 2u);
    ASSERT_EQ(messages.shown.size(), 2u);
    for (const auto& shown : messages.shown) {
        EXPECT_EQ(shown.title, QStringLiteral("Can't Delete"));
        EXPECT_TRUE(shown.text.contains(QStringLiteral("replaced"))) << shown.text.toStdString();
    }
}

TEST_F(InfectionsPanelTest, FileOverwrittenInPlaceAfterTheScanIsKeptAndTheUserIsTold)
{
    const std::vector<fs::path> files = ScanHits({"rewritten.exe"});
    std::ofstream(files[0], std::ios::binary | std::ios::trunc) << "harmless now";
    Select(0);
    Click("cmdDel");
    EXPECT_EQ(TestFolder::read(files[0]), "harmless now");
    EXPECT_EQ(Paths().size(), 1u);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text,
        Shown(files[0]) + QStringLiteral(" was not deleted: its content changed after the scan."));
}

TEST_F(InfectionsPanelTest, FileThatCannotBeDeletedIsReportedAndTheHitStays)
{
    const std::vector<fs::path> files = ScanHits({"locked.exe"});
    remover = [](const DetectedFile&) {
        return RemovalResult{RemovalResult::Status::StillThere, "Permission denied", {}};
    };
    Select(0);
    Click("cmdDel");
    EXPECT_TRUE(fs::exists(files[0]));
    EXPECT_EQ(Paths().size(), 1u);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("Permission denied")));
}

TEST_F(InfectionsPanelTest, DeleteKeepsTheFileInTheQuarantineWhereRestoreFindsIt)
{
    const std::vector<fs::path> files = ScanHits({"tool.exe"});
    ::chmod(files[0].c_str(), 02755);
    Select(0);
    Click("cmdDel");
    EXPECT_FALSE(fs::exists(fs::symlink_status(files[0])));
    EXPECT_TRUE(Paths().empty());
    EXPECT_TRUE(messages.shown.empty());

    EXPECT_EQ(ModeOf(quarantine), 0700u);
    const std::vector<fs::path> kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(TestFolder::read(kept[0]), kEicar);
    EXPECT_EQ(ModeOf(kept[0]), 0600u) << "nothing in the quarantine can be run";
    const std::string record = TestFolder::read(kept[0].native() + ".json");
    const std::optional<QuarantineFacts> facts = ParseSidecar(record);
    ASSERT_TRUE(facts) << record;
    EXPECT_EQ(facts->originalPath, (fs::canonical(files[0].parent_path()) / files[0].filename()).native());
    EXPECT_EQ(facts->mode, 02755u);
    EXPECT_NE(record.find(R"("signatures":["EICAR-Test-File"])"), std::string::npos) << record;

    std::FILE* out = std::tmpfile();
    EXPECT_EQ(RestoreQuarantined(kept[0].native(), out, out), 0);
    std::fclose(out);
    EXPECT_EQ(TestFolder::read(files[0]), kEicar);
    EXPECT_EQ(ModeOf(files[0]), 02755u);
    EXPECT_TRUE(Kept().empty());
}

TEST_F(InfectionsPanelTest, AQuarantineFolderNotThisUsersAloneRefusesDeleteAndSaysWhy)
{
    const std::vector<fs::path> files = ScanHits({"kept.exe"});
    fs::create_directories(quarantine);
    ::chmod(quarantine.c_str(), 0750);
    Select(0);
    Click("cmdDel");
    // Root owns every folder it makes: another owner can be tried only there.
    if (::geteuid() == 0) {
        ::chmod(quarantine.c_str(), 0700);
        ASSERT_EQ(::chown(quarantine.c_str(), 65534, 65534), 0);
        Click("cmdDel");
    }
    EXPECT_EQ(TestFolder::read(files[0]), kEicar);
    EXPECT_EQ(Paths().size(), 1u);
    EXPECT_TRUE(fs::is_empty(quarantine));
    ASSERT_EQ(messages.shown.size(), ::geteuid() == 0 ? 2u : 1u);
    const QString refused =
        Shown(files[0]) + QStringLiteral(" was not deleted: the quarantine folder cannot be used: ");
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Can't Delete"));
    EXPECT_TRUE(messages.shown[0].text.startsWith(refused)) << messages.shown[0].text.toStdString();
    EXPECT_TRUE(messages.shown[0].text.contains(QStringLiteral("its mode is 0750")));
    if (messages.shown.size() == 2) {
        EXPECT_TRUE(messages.shown[1].text.contains(QStringLiteral("belongs to user 65534")));
    }
}

TEST_F(InfectionsPanelTest, StartUpPrunesOldEntriesAndScansNeverWalkIntoTheQuarantine)
{
    // The quarantine folder lies in the scanned folder.
    quarantine = folder.root() / "tree" / "q";
    form.reset();
    Open();
    ScanHits({"old.exe", "fresh.exe"});
    for (int i = 0; i < 2; ++i) {
        Select(0);
        Click("cmdDel");
    }
    ASSERT_EQ(Kept().size(), 2u);
    Click("cmdScan");
    EXPECT_EQ(Get<QListWidget>("lstVNa")->count(), 0);

    // Quarantined 31 days ago, by its record.
    const fs::path old = Kept()[0].native().ends_with("old.exe") ? Kept()[0] : Kept()[1];
    std::string record = TestFolder::read(old.native() + ".json");
    const std::size_t at = record.find(R"("quarantined":")") + 15;
    record.replace(at, 24, UtcTimeText(std::chrono::system_clock::now() - std::chrono::days(31)));
    std::ofstream(old.native() + ".json", std::ios::trunc) << record;
    // A record that is a link is never read through, nor its target removed.
    const fs::path target = folder.file("elsewhere.json", record);
    std::ofstream(quarantine / "trap", std::ios::binary) << "x";
    fs::create_symlink(target, quarantine / "trap.json");

    form.reset();
    Open();
    const std::vector<fs::path> kept = Kept();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1].filename(), "trap");
    EXPECT_TRUE(kept[0].native().ends_with("fresh.exe")) << kept[0];
    EXPECT_FALSE(fs::exists(old.native() + ".json"));
    EXPECT_EQ(TestFolder::read(target), record);
}

TEST_F(InfectionsPanelTest, RemoveFromListDropsOnlyTheSelectedHit)
{
    const std::vector<fs::path> files = ScanHits({"a.exe", "b.exe", "c.exe"});
    Click("cmdRem");
    EXPECT_EQ(Paths().size(), 3u) << "no selection, no change";

    Select(0);
    Click("cmdRem");
    EXPECT_EQ(Paths(), (std::vector<QString>{Shown(files[1]), Shown(files[2])}));
    EXPECT_TRUE(fs::exists(files[0]));
    EXPECT_EQ(Text("lblPav"), Shown(files[0]));

    // lblPav still names the removed hit: Delete deletes that file and removes no entry.
    Click("cmdDel");
    EXPECT_FALSE(fs::exists(files[0]));
    EXPECT_EQ(Paths().size(), 2u);
}

TEST_F(InfectionsPanelTest, CommandsDuringAScanLeaveTheWalkWhole)
{
    std::vector<fs::path> files;
    for (int i = 0; i < 6; ++i)
        files.push_back(folder.file("tree/f" + std::to_string(i) + ".exe", kEicar));
    auto* names = Get<QListWidget>("lstVNa");
    int inserted = 0;
    QObject::connect(names->model(), &QAbstractItemModel::rowsInserted, form.get(), [&] {
        if (++inserted == 2) {
            QTimer::singleShot(0, form.get(), [&] {
                names->setCurrentRow(0);
                Click("cmdDel");
                names->setCurrentRow(0);
                Click("cmdRem");
            });
        }
    });
    Click("lblInfect");
    Click("cmdScan");
    EXPECT_EQ(form->Counter().Total(), 6u);
    EXPECT_EQ(names->count(), 4);
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const fs::path& f) { return fs::exists(f); }), 5);
}

// A long session as a user might have it: scans, Stop, Edit Report, typing
// in the box whether locked or not, Clear, Save, Delete and Remove in a
// seeded random order. After every step the box shows exactly the report,
// the two lists stay in step, and a save writes the report as it stands.
TEST_F(InfectionsPanelTest, ALongSessionKeepsTheReportTheBoxAndTheListsInStep)
{
    auto* report = Get<QPlainTextEdit>("txtRep");
    auto* names = Get<QListWidget>("lstVNa");
    auto* paths = Get<QListWidget>("lstVPt");
    const auto refill = [this] {
        for (int i = 0; i < 8; ++i)
            folder.file("tree/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".exe", i % 2 ? kEicar : "ok");
    };
    const auto type = [report](int what) {
        report->setFocus();
        switch (what % 4) {
        case 0:
            QTest::keyClicks(report, QStringLiteral("typed text"));
            QTest::keyClick(report, Qt::Key_Return);
            break;
        case 1:
            QTest::keyClick(report, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(report, Qt::Key_Delete);
            break;
        case 2:
            QTest::keyClick(report, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(report, Qt::Key_Backspace);
            QTest::keyClick(report, Qt::Key_Return);
            break;
        default:
            QTest::keyClick(report, Qt::Key_Home, Qt::ControlModifier);
            QTest::keyClick(report, Qt::Key_Tab);
            QTest::keyClicks(report, QStringLiteral(">"));
            break;
        }
    };
    std::minstd_rand random(20261208);
    refill();
    for (int step = 0; step < 400; ++step) {
        SCOPED_TRACE(step);
        const auto action = static_cast<unsigned>(random() % 8);
        const auto detail = static_cast<unsigned>(random());
        switch (action) {
        case 0:
            refill();
            if (detail % 3 == 0) {
                // Typing and clicks while the scan runs, and a Stop now and then.
                QTimer::singleShot(0, form.get(), [&, detail] {
                    type(static_cast<int>(detail));
                    Click("chkChg");
                    if (detail % 2 == 0)
                        Click("cmdStop");
                });
            }
            Click("cmdScan");
            break;
        case 1:
            Click("chkChg");
            break;
        case 2:
        case 3:
            type(static_cast<int>(detail));
            break;
        case 4:
            Click(detail % 4 == 0 ? "cmdCl" : "cmdSave");
            break;
        case 5:
        case 6:
            if (names->count() > 0) {
                Click("lblInfect");
                Select(static_cast<int>(detail % static_cast<unsigned>(names->count())));
                Click(detail % 2 ? "cmdDel" : "cmdRem");
            }
            break;
        default:
            Tick("tmrAbc");
            Tick("tmrEl");
            Click(detail % 2 ? "lblRep" : "lblScan");
            break;
        }
        ASSERT_EQ(report->toPlainText(), ReportBox::ToDisplay(form->Report()));
        ASSERT_EQ(names->count(), paths->count());
        ASSERT_TRUE(std::filesystem::is_directory(folder.root() / "tree"));
    }
    Click("cmdSave");
    EXPECT_EQ(TestFolder::read(folder.root() / "app/Results.txt"), form->Report());
}

TEST_F(InfectionsPanelTest, FolderChooser)
{
    folder.file("tree/sub/file", "x");
    folderDialog.nextAnswer = QString::fromStdString(folder.path("tree/sub")) + QLatin1Char('/');
    Click("lblBrowse");
    ASSERT_EQ(folderDialog.titles.size(), 1u);
    EXPECT_EQ(folderDialog.titles[0], QStringLiteral("Select a drive or a folder:"));
    EXPECT_EQ(folderDialog.startFolders[0], QString::fromStdString(folder.path("tree")));
    EXPECT_EQ(Text("lblPath"), QString::fromStdString(folder.path("tree/sub")));
    EXPECT_EQ(form->ScanFolder(), folder.path("tree/sub"));

    folderDialog.nextAnswer = QStringLiteral("/");
    Click("lblBrowse");
    EXPECT_EQ(folderDialog.startFolders.back(), QString::fromStdString(folder.path("tree/sub")));
    EXPECT_EQ(Text("lblPath"), QStringLiteral("/"));

    folderDialog.nextAnswer.clear();
    Click("lblBrowse");
    EXPECT_EQ(folderDialog.startFolders.back(), QStringLiteral("/"));
    EXPECT_EQ(Text("lblPath"), QString());
    Click("cmdScan");
    EXPECT_EQ(form->Counter().Total(), 0u) << "an empty path walks nothing";

    // While a scan runs the label is disabled.
    folderDialog.nextAnswer = QString::fromStdString(folder.path("tree"));
    Click("lblBrowse");
    EXPECT_EQ(folderDialog.startFolders.back(), QDir::homePath()) << "no folder shown: the home folder";
    const std::size_t opened = folderDialog.titles.size();
    QTimer::singleShot(0, form.get(), [&] { Click("lblBrowse"); });
    Click("cmdScan");
    EXPECT_EQ(form->Counter().Total(), 1u);
    EXPECT_EQ(folderDialog.titles.size(), opened);
}

class UpdateInWindowTest : public FormFixture {
protected:
    void SetUp() override
    {
        updateUrl = server.Url();
        Open();
    }

    // The bar's values and the status texts as they change.
    void Record()
    {
        QObject::connect(Get<QProgressBar>("pgbUpd"), &QProgressBar::valueChanged, form.get(),
            [this](int value) { values.push_back(value); });
    }

    test::LoopbackServer server;
    std::vector<int> values;
};

TEST_F(UpdateInWindowTest, SuccessAndFailureDriveTheBarTheTextAndTheButton)
{
    Click("lblUpdate");
    const std::string body = std::string(kHelloMd5) + "=Only.One\r\n";
    test::HttpResponse response;
    response.body = QByteArray::fromStdString(body);
    server.Respond(response);
    bool disabledDuringFetch = false;
    QString textDuringFetch;
    server.onRequest = [&] {
        disabledDuringFetch = !Get<QPushButton>("cmdUpdate")->isEnabled();
        textDuringFetch = Text("lblUpd");
    };
    Record();
    Click("cmdUpdate");
    EXPECT_TRUE(disabledDuringFetch);
    EXPECT_EQ(textDuringFetch, QStringLiteral("Downloading update file"));
    EXPECT_EQ(Text("lblUpd"), QStringLiteral("Download succesful"));
    EXPECT_TRUE(Get<QPushButton>("cmdUpdate")->isEnabled());
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(values.back(), 1000);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(TestFolder::read(folder.root() / "app/sa.kvd"), body);
    Tick("tmrAbc");
    EXPECT_EQ(Text("lblTot"), QStringLiteral("1 signatures"));
    EXPECT_EQ(Text("lblTTU"), QStringLiteral("1 signatures"));

    server.Respond(test::HtmlError(404, "Not Found"));
    values.clear();
    Click("cmdUpdate");
    EXPECT_EQ(Text("lblUpd"), QStringLiteral("Download failed"));
    EXPECT_TRUE(Get<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_EQ(values.back(), 1000);
    EXPECT_EQ(TestFolder::read(folder.root() / "app/sa.kvd"), body);
}

// A setting with a mistake turns "Update Now" off from start-up, with the
// reason on the panel, until the file is mended; the reason of each refusal
// is a line of the panel, and the panel says whether updates are signed.
TEST_F(UpdateInWindowTest, SettingsMistakesAndRefusalsAreShownOnThePanel)
{
    EXPECT_TRUE(Get<QLabel>("lblUpdSettings")->isHidden());
    EXPECT_EQ(Text("lblUpdAuth"), QStringLiteral("Updates are not signed"));
    folder.file("app/qirn-checker.ini", "[Update]\nURL=" + server.Url().toString().toStdString() + "\n");
    Open();
    Click("lblUpdate");
    EXPECT_FALSE(Get<QLabel>("lblUpdSettings")->isHidden());
    EXPECT_TRUE(Text("lblUpdSettings").startsWith(QStringLiteral("Update/URL is not a known setting")));
    EXPECT_FALSE(Get<QPushButton>("cmdUpdate")->isEnabled());
    const std::string before = TestFolder::read(folder.root() / "app/sa.kvd");
    Click("cmdUpdate");
    EXPECT_TRUE(server.RequestLines().isEmpty());

    folder.file("app/qirn-checker.ini", "[Update]\nUrl=" + server.Url().toString().toStdString() + "\n");
    Tick("tmrAbc");
    EXPECT_TRUE(Get<QLabel>("lblUpdSettings")->isHidden());
    EXPECT_TRUE(Get<QPushButton>("cmdUpdate")->isEnabled());

    // Read again at the click: a mistake made since turns updates off again.
    folder.file("app/qirn-checker.ini", "[Update]\nUrl=\n");
    Click("cmdUpdate");
    EXPECT_TRUE(server.RequestLines().isEmpty());
    EXPECT_FALSE(Get<QPushButton>("cmdUpdate")->isEnabled());
    folder.file("app/qirn-checker.ini", "[Update]\nUrl=" + server.Url().toString().toStdString() + "\n");
    Tick("tmrAbc");

    server.Respond(test::HtmlError(200, "OK"));
    Click("cmdUpdate");
    EXPECT_EQ(Text("lblUpd"), QStringLiteral("Download failed"));
    const QString why = QStringLiteral("the body is an HTML page, not a signature file");
    EXPECT_EQ(Get<QLabel>("lblUpd")->toolTip(), why);
    EXPECT_EQ(Get<QLabel>("lblUpdWhy")->toolTip(), why);
    EXPECT_TRUE(Get<QLabel>("lblUpdWhy")->isVisibleTo(form.get()));
    EXPECT_EQ(TestFolder::read(folder.root() / "app/sa.kvd"), before);

    // The list installed, offered again: a success that changes nothing.
    test::HttpResponse same;
    same.body = QByteArray::fromStdString(before);
    server.Respond(same);
    Click("cmdUpdate");
    EXPECT_EQ(Text("lblUpd"), QStringLiteral("Download succesful"));
    EXPECT_EQ(Get<QLabel>("lblUpdWhy")->toolTip(),
        QStringLiteral("the list on the server is the one installed; nothing was changed"));
}

}  // namespace
}  // namespace qirn::uitest
