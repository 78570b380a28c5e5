// The window as loaded, its navigation, the status refresh, "Go tray" and
// the way out.

#include "resources/Artwork.h"
#include "tests/ui/FormFixture.h"
#include "tray/TrayMouseEvent.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace qirn::uitest {
namespace {

const char* const kPanels[] = {"frScan", "frSign", "frInfect", "frRes", "frUpd", "frAbout"};

std::vector<std::string> VisiblePanels(const frmTev& form)
{
    std::vector<std::string> visible;
    for (const char* name : kPanels)
        if (form.findChild<QGroupBox*>(QString::fromLatin1(name))->isVisibleTo(&form))
            visible.emplace_back(name);
    return visible;
}

using FormStartUp = FormFixture;

TEST_F(FormStartUp, ShowsTheScannerPanelWithFullBarsAndInitialTexts)
{
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("QIRN Checker 1.1"));
    EXPECT_EQ(form->size(), QSize(387, 371));
    EXPECT_EQ(VisiblePanels(*form), std::vector<std::string>{"frScan"});
    EXPECT_EQ(Get<QProgressBar>("pgbStatus")->value(), 1000);
    EXPECT_EQ(Get<QProgressBar>("pgbUpd")->value(), 1000);
    EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0"));
    EXPECT_EQ(form->Signatures().Count(), 2u);

    const std::pair<const char*, const char*> texts[] = {
        {"lblScan", "Scanner"},
        {"lblSign", "Signatures"},
        {"lblInfect", "Infections"},
        {"lblRep", "Results"},
        {"lblUpdate", "Update"},
        {"lblAbout", "About"},
        {"lblTray", "Go tray"},
        {"lblQuit", "Quit"},
        {"Label1", "QIRN Checker"},
        {"Label5", "1.1"},
        {"lblPav", ""},
        {"Label7", "Scan started at:"},
        {"lblStrt", "Not available"},
        {"Label10", "Time elapsed:"},
        {"lblEl", "Not available"},
        {"Label8", "Scan finished at:"},
        {"lblFin", "Not available"},
        {"Label9", "Object scanned:"},
        {"lblScnd", "Not available"},
        {"Label12", "Infections found:"},
        {"lblFnd", "0"},
        {"Label11", "Current object:"},
        {"lblCur", "Not available"},
        {"lblBrowse", "Path: (Change)"},
        {"Label4", "Virus and Malware:"},
        {"lblTot", "0 signatures"},
        {"Label20", "Virus name:"},
        {"Label21", "Path + Filename:"},
        {"Label2", "Signature count:"},
        {"lblTTU", "0"},
        {"Label6", "Details:"},
        {"lblUpd", "Stopped"},
        {"Label27", "You should use a stable internet connection"},
        {"Label16", "Created by:"},
        {"Label17", "Tester:"},
        {"Label19", "Version:"},
        {"Label22", "1.1"},
        {"Label23", "- Fixed bug Scanner cannot detect virus"},
        {"Label24", "- Added new option \"Results\""},
        {"Label25", "- Added new option Quit"},
        {"Label26", "- More secure delete infected file"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(Text(name), QString::fromUtf8(text)) << name;
    EXPECT_EQ(Text("lblPath").toStdString(), folder.path("tree"));
    for (const char* name : {"Label18", "Label15", "Label14"})
        EXPECT_FALSE(Text(name).isEmpty()) << name;
    // Where sa.kvd and Results.txt are kept (cut to fit, whole as tooltip: ReadabilityTest).
    const QString app = QString::fromStdString(folder.path("app"));
    EXPECT_EQ(Text("lblAppPath"), QStringLiteral("Application path: ") + app);
    EXPECT_EQ(Text("lblQuarantine"), QStringLiteral("Quarantine: ") + QString::fromStdString(quarantine.native()));
    EXPECT_EQ(Get<QPushButton>("cmdSave")->toolTip(),
        QStringLiteral("Saves the report as ") + app + QStringLiteral("/Results.txt"));

    const std::pair<const char*, const char*> buttons[] = {
        {"cmdScan", "Scan"},
        {"cmdStop", "Stop"},
        {"cmdDel", "Delete"},
        {"cmdRem", "Remove from list"},
        {"cmdCl", "Clear"},
        {"cmdSave", "Save"},
        {"cmdUpdate", "Update Now"},
        {"chkChg", "Edit Report"},
    };
    for (const auto& [name, text] : buttons)
        EXPECT_EQ(Get<QAbstractButton>(name)->text(), QString::fromUtf8(text)) << name;
}

TEST_F(FormStartUp, ControlsStartIdle)
{
    EXPECT_TRUE(Get<QPushButton>("cmdScan")->isEnabled());
    EXPECT_FALSE(Get<QPushButton>("cmdStop")->isEnabled());
    EXPECT_TRUE(Get<QLabel>("lblBrowse")->isEnabled());
    EXPECT_TRUE(Get<QPushButton>("cmdSave")->isEnabled());
    EXPECT_TRUE(Get<QPushButton>("cmdCl")->isEnabled());
    EXPECT_FALSE(Editable(Get<QPlainTextEdit>("txtRep")));
    EXPECT_TRUE(Get<QPlainTextEdit>("txtRep")->toPlainText().isEmpty());
    EXPECT_EQ(Get<QCheckBox>("chkChg")->checkState(), Qt::Unchecked);
    EXPECT_TRUE(Get<QListWidget>("lstVNa")->isEnabled());
    EXPECT_FALSE(Get<QListWidget>("lstVPt")->isEnabled());
    EXPECT_TRUE(Get<QTimer>("tmrAbc")->isActive());
    EXPECT_EQ(Get<QTimer>("tmrAbc")->interval(), 1000);
    EXPECT_FALSE(Get<QTimer>("tmrEl")->isActive());
    EXPECT_EQ(Get<QTimer>("tmrEl")->interval(), 900);
}

TEST_F(FormStartUp, LaysOutThePictureNavigationAndPanels)
{
    EXPECT_EQ(Get<QLabel>("Picture1")->geometry(), QRect(-8, -8, 420, 463));
    EXPECT_EQ(Get<QLabel>("Picture1")->pixmap().size(), QSize(420, 463));
    int top = 80;
    for (const char* name :
        {"lblScan", "lblSign", "lblInfect", "lblRep", "lblUpdate", "lblAbout", "lblTray", "lblQuit"}) {
        auto* label = Get<QLabel>(name);
        EXPECT_EQ(label->pos(), QPoint(24, top)) << name;
        EXPECT_TRUE(label->font().underline()) << name;
        EXPECT_EQ(label->cursor().hotSpot(), QPoint(12, 1)) << name;
        EXPECT_EQ(label->cursor().pixmap().size(), QSize(32, 32)) << name;
        EXPECT_LE(label->geometry().right(), 80) << name << " runs under the panels";
        top += 32;
    }
    EXPECT_EQ(Get<QLabel>("lblBrowse")->cursor().hotSpot(), QPoint(12, 1));
    for (const char* name : kPanels)
        EXPECT_EQ(Get<QGroupBox>(name)->geometry(), QRect(80, 64, 289, 265)) << name;
    EXPECT_EQ(Get<QLabel>("lblPav")->geometry(), QRect(16, 336, 369, 41));
    for (const int size : {16, 20, 24})
        EXPECT_EQ(form->windowIcon().pixmap(size, size).size(), QSize(size, size));
}

TEST_F(FormStartUp, SurvivesMissingOrMalformedSignatureFile)
{
    for (const char* content : {static_cast<const char*>(nullptr), "no separator here\r\n", ""}) {
        if (content == nullptr)
            std::filesystem::remove(folder.root() / "app/sa.kvd");
        else
            folder.file("app/sa.kvd", content);
        Open();
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->Signatures().Count(), 0u);
        Tick("tmrAbc");
        EXPECT_EQ(Text("lblTot"), QStringLiteral("0 signatures"));
        EXPECT_EQ(Text("lblTTU"), QStringLiteral("0 signatures"));
    }
}

using FormNavigation = FormFixture;

TEST_F(FormNavigation, EachLabelShowsExactlyItsPanel)
{
    const std::pair<const char*, const char*> links[] = {
        {"lblSign", "frSign"},
        {"lblInfect", "frInfect"},
        {"lblRep", "frRes"},
        {"lblUpdate", "frUpd"},
        {"lblAbout", "frAbout"},
        {"lblScan", "frScan"},
        {"lblRep", "frRes"},
    };
    for (const auto& [label, panel] : links) {
        Click(label);
        EXPECT_EQ(VisiblePanels(*form), std::vector<std::string>{panel}) << label;
        Click(label);
        EXPECT_EQ(VisiblePanels(*form), std::vector<std::string>{panel}) << label << " twice";
    }
}

// Without a mouse: Tab reaches each navigation link in turn, Enter or Space
// acts on it, and Quit ends the program. A screen reader finds each link as
// a link it can press, and a name and a description on every control.
TEST_F(FormNavigation, KeyboardAndScreenReaderReachEveryPanelAndQuit)
{
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const std::pair<const char*, const char*> links[] = {{"lblScan", "frScan"}, {"lblSign", "frSign"},
        {"lblInfect", "frInfect"}, {"lblRep", "frRes"}, {"lblUpdate", "frUpd"}, {"lblAbout", "frAbout"}};
    Get<QWidget>("lblScan")->setFocus(Qt::OtherFocusReason);
    for (std::size_t i = 0; i < std::size(links); ++i) {
        const auto& [label, panel] = links[i];
        SCOPED_TRACE(label);
        if (i > 0) {
            Get<QWidget>(links[i - 1].first)->setFocus(Qt::OtherFocusReason);  // a click took it
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget(), Get<QWidget>(label));
        QTest::keyClick(QApplication::focusWidget(), i % 2 ? Qt::Key_Space : Qt::Key_Return);
        EXPECT_EQ(VisiblePanels(*form), std::vector<std::string>{panel});

        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(Get<QWidget>(label));
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->role(), QAccessible::Link);
        EXPECT_EQ(link->text(QAccessible::Name), Text(label));
        Click("lblAbout");
        ASSERT_NE(link->actionInterface(), nullptr);
        link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(VisiblePanels(*form), std::vector<std::string>{panel});
    }

    for (QWidget* control : form->findChildren<QWidget*>()) {
        if (!control->inherits("QAbstractButton") && !control->inherits("QAbstractItemView") &&
            !control->inherits("QPlainTextEdit") && !control->inherits("QProgressBar") &&
            !control->inherits("LinkLabel"))
            continue;
        SCOPED_TRACE(control->objectName().toStdString());
        QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(shown, nullptr);
        EXPECT_FALSE(shown->text(QAccessible::Name).isEmpty());
        EXPECT_FALSE(shown->text(QAccessible::Description).isEmpty());
    }

    Get<QWidget>("lblQuit")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(programEnds, 1);
}

TEST_F(FormNavigation, HideAllPanelsHidesEverySixth)
{
    form->HideAllPanels();
    EXPECT_TRUE(VisiblePanels(*form).empty());
}

using FormRefresh = FormFixture;

TEST_F(FormRefresh, TickShowsCountsAndFollowsTheFile)
{
    Tick("tmrAbc");
    EXPECT_EQ(Text("lblTot"), QStringLiteral("2 signatures"));
    EXPECT_EQ(Text("lblTTU"), QStringLiteral("2 signatures"));
    EXPECT_EQ(Text("lblFnd"), QStringLiteral("0"));
    EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0"));

    std::string many;
    for (int i = 0; i < 120; ++i)
        many += std::string(kHelloMd5) + "=Name" + std::to_string(i) + "\n";
    folder.file("app/sa.kvd", many);
    Tick("tmrAbc");
    EXPECT_EQ(Text("lblTot"), QStringLiteral("120 signatures"));

    std::filesystem::remove(folder.root() / "app/sa.kvd");
    Tick("tmrAbc");
    EXPECT_EQ(Text("lblTTU"), QStringLiteral("0 signatures"));
}

TEST_F(FormRefresh, TimerRefreshesWithinASecond)
{
    QSignalSpy ticks(Get<QTimer>("tmrAbc"), &QTimer::timeout);
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_EQ(Text("lblTot"), QStringLiteral("2 signatures"));
}

TEST_F(FormRefresh, TipSaysOnDutyWhileTheScanButtonIsDisabled)
{
    Get<QPushButton>("cmdScan")->setEnabled(false);
    Tick("tmrAbc");
    EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0 - On Duty"));
    Get<QPushButton>("cmdScan")->setEnabled(true);
    Tick("tmrAbc");
    EXPECT_EQ(form->Tray().Tip(), QStringLiteral("QIRN Checker 1.0"));
}

using FormTray = FormFixture;

TEST_F(FormTray, GoTrayWithoutNotificationAreaMinimises)
{
    ASSERT_FALSE(mdlTray::TrayIcon::Available());
    Click("lblTray");
    EXPECT_TRUE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());
    form->Tray().OnMouseMessage(mdlTray::kLeftButtonUp);
    EXPECT_FALSE(form->isMinimized());
}

TEST_F(FormTray, ReleaseOverTheIconShowsTheHiddenWindow)
{
    for (const std::int32_t message : {mdlTray::kLeftButtonUp, mdlTray::kRightButtonUp}) {
        form->hide();
        for (const std::int32_t ignored :
            {mdlTray::kMouseMove, mdlTray::kLeftButtonDoubleClick, mdlTray::kMiddleButtonUp})
            form->Tray().OnMouseMessage(ignored);
        EXPECT_FALSE(form->isVisible());
        form->Tray().OnMouseMessage(message);
        EXPECT_TRUE(form->isVisible()) << message;
    }
}

using FormShutdown = FormFixture;

TEST_F(FormShutdown, QuitAndClosingRemoveTheIconAndEndTheProgram)
{
    EXPECT_TRUE(form->Tray().Present());
    Click("lblQuit");
    EXPECT_EQ(programEnds, 1);
    EXPECT_FALSE(form->Tray().Present());

    Open();
    form->close();
    EXPECT_EQ(programEnds, 2);
    EXPECT_FALSE(form->Tray().Present());
}

}  // namespace
}  // namespace qirn::uitest
