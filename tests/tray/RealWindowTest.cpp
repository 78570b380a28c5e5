// The window on a real X display with a notification area (Xvfb and trayer,
// see with-tray-host.sh): the icon is embedded and shows its tip, "Go tray"
// hides the window, and a real click on the icon brings it back.

#include "ui/MessageBox.h"
#include "ui/frmTev.h"
#include "ui/mdlBrowse.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

constexpr int kPatienceMs = 10000;

class NoMessages final : public MessageBoxes {
public:
    void Information(QWidget*, const QString&) override { }
    void Warning(QWidget*, const QString&) override { }
};

// A real pointer event from the X server, as a user's hand would give it.
void Xdotool(const QStringList& arguments)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(xdotool.waitForFinished(kPatienceMs));
    ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

QString ShownTip()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QTipLabel") && widget->isVisible())
            return static_cast<QLabel*>(widget)->text();
    return {};
}

bool Shown(const frmTev& form)
{
    return form.isVisible() && form.windowHandle() != nullptr && form.windowHandle()->isExposed();
}

// The title a window manager reads: _NET_WM_NAME and WM_NAME, as xprop shows them.
std::map<QString, QString> TitleProperties(WId window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
        {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_NAME"), QStringLiteral("WM_NAME")});
    EXPECT_TRUE(xprop.waitForFinished(kPatienceMs));
    std::map<QString, QString> titles;
    for (const QString& line : QString::fromUtf8(xprop.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QStringLiteral(" = \""));
        if (equals > 0)
            titles[line.left(line.indexOf(u'('))] = line.mid(equals + 4).chopped(1);
    }
    return titles;
}

std::map<QString, QString> Titled(const char* title)
{
    const QString text = QString::fromUtf8(title);
    return {{QStringLiteral("_NET_WM_NAME"), text}, {QStringLiteral("WM_NAME"), text}};
}

TEST(RealWindow, TheProgramsWindowCarriesExactlyItsCaption)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display (tests/tray/with-tray-host.sh)";
    QProcess program;
    program.start(QStringLiteral(QIRN_CHECKER), {});
    ASSERT_TRUE(program.waitForStarted(kPatienceMs));
    // A sanitizer build on a busy machine may take a while to show its window.
    constexpr int kStartMs = 60000;
    QString window;
    // --all: the tray icon's own window has the same pid and is visible too.
    const bool appeared = QTest::qWaitFor(
        [&] {
            QProcess search;
            search.start(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--pid"), QString::number(program.processId()), QStringLiteral("--name"),
                    QStringLiteral("^QIRN Checker")});
            search.waitForFinished(kPatienceMs);
            window = QString::fromUtf8(search.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
            return !window.isEmpty();
        },
        kStartMs);
    ASSERT_TRUE(appeared) << "qirn-checker showed no window";
    EXPECT_EQ(TitleProperties(window.toULongLong()), Titled("QIRN Checker 1.1"));
    program.terminate();
    program.waitForFinished(kPatienceMs);
}

TEST(RealWindow, BoxesAndTheFolderChooserCarryExactlyTheirTitles)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display (tests/tray/with-tray-host.sh)";
    QTemporaryDir start;
    // Reads the title of the modal window the action opens, then closes it.
    const auto titlesOf = [](const std::function<void()>& open, QString* folder = nullptr) {
        std::map<QString, QString> titles;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal->windowHandle() == nullptr || !modal->windowHandle()->isExposed())
                return;
            poll.stop();
            QTest::qWait(200);  // the properties are set before the window is mapped; let the server settle
            titles = TitleProperties(modal->winId());
            if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog != nullptr && folder != nullptr)
                *folder = dialog->directory().absolutePath();
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        });
        poll.start(50);
        open();
        return titles;
    };
    ModalMessageBoxes boxes;
    EXPECT_EQ(titlesOf([&] { boxes.Exclamation(nullptr, QStringLiteral("Can't Delete"), QStringLiteral("No file")); }),
        Titled("Can't Delete"));
    EXPECT_EQ(titlesOf([&] { boxes.Information(nullptr, QStringLiteral("Results was saved in Application path")); }),
        Titled("QIRN Checker"));
    SystemFolderDialog chooser;
    QString opened;
    EXPECT_EQ(
        titlesOf([&] { chooser.ChooseFolder(QStringLiteral("Select a drive or a folder:"), start.path()); }, &opened),
        Titled("Select a drive or a folder:"));
    EXPECT_EQ(opened, QDir(start.path()).absolutePath());
}

TEST(RealWindow, TrayIconGoTrayAndRestore)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display with a notification area (tests/tray/with-tray-host.sh)";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kPatienceMs))
        << "no notification area on this display";

    QTemporaryDir folder;
    NoMessages messages;
    int programEnds = 0;
    FormEnvironment environment = RealEnvironment();
    environment.applicationFolder = folder.path();
    environment.messages = &messages;
    environment.endProgram = [&programEnds] { ++programEnds; };
    frmTev form(environment);
    form.Load();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form, kPatienceMs));

    QSystemTrayIcon& icon = form.Tray().Icon();
    ASSERT_TRUE(QTest::qWaitFor([&icon] { return !icon.geometry().isEmpty(); }, kPatienceMs))
        << "the icon was not embedded in the notification area";
    // The notification area may still move the icon after embedding it.
    QRect settled;
    while (settled != icon.geometry()) {
        settled = icon.geometry();
        QTest::qWait(300);
    }
    EXPECT_TRUE(icon.isVisible());
    EXPECT_EQ(icon.toolTip(), QStringLiteral("QIRN Checker 1.0"));
    const QPoint centre = settled.center();

    // Resting the pointer on the icon shows its tip.
    Xdotool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y())});
    Xdotool({QStringLiteral("mousemove"), QString::number(centre.x() + 1), QString::number(centre.y())});
    EXPECT_TRUE(QTest::qWaitFor([] { return ShownTip() == QStringLiteral("QIRN Checker 1.0"); }, kPatienceMs))
        << "tip shown: " << ShownTip().toStdString() << " at " << centre.x() << "," << centre.y();

    // Only a release over the icon restores: a press alone, or a press whose
    // release comes elsewhere, leaves the window hidden.
    const QString x = QString::number(centre.x());
    const QString y = QString::number(centre.y());
    for (const int button : {1, 3}) {
        SCOPED_TRACE(button);
        const QString which = QString::number(button);
        QTest::mouseClick(form.findChild<QLabel*>(QStringLiteral("lblTray")), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&form] { return !form.isVisible(); }, kPatienceMs)) << "Go tray";
        EXPECT_TRUE(icon.isVisible());
        Xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("mousedown"), which});
        Xdotool(
            {QStringLiteral("mousemove"), QString::number(settled.right() + 40), y, QStringLiteral("mouseup"), which});
        Xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("mousedown"), which});
        QTest::qWait(500);
        EXPECT_FALSE(form.isVisible()) << "shown on a press";
        Xdotool({QStringLiteral("mouseup"), which});
        EXPECT_TRUE(QTest::qWaitFor([&form] { return Shown(form); }, kPatienceMs)) << "not shown on the release";
    }

    QTest::mouseClick(form.findChild<QLabel*>(QStringLiteral("lblQuit")), Qt::LeftButton);
    EXPECT_EQ(programEnds, 1);
    EXPECT_FALSE(icon.isVisible());
}

}  // namespace
