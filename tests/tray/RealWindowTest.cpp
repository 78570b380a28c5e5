// The window on a real X display with a notification area (Xvfb and trayer,
// see with-tray-host.sh): the icon is embedded and shows its tip, "Go tray"
// hides the window, and a real click on the icon brings it back.

#include "ui/MessageBox.h"
#include "ui/frmTev.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

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

void ClickAt(QPoint point, int button)
{
    Xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
        QStringLiteral("click"), QString::number(button)});
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

    for (const int button : {1, 3}) {
        QTest::mouseClick(form.findChild<QLabel*>(QStringLiteral("lblTray")), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&form] { return !form.isVisible(); }, kPatienceMs)) << "Go tray";
        EXPECT_TRUE(icon.isVisible());
        ClickAt(centre, button);
        EXPECT_TRUE(QTest::qWaitFor([&form] { return Shown(form); }, kPatienceMs)) << "button " << button;
    }

    QTest::mouseClick(form.findChild<QLabel*>(QStringLiteral("lblQuit")), Qt::LeftButton);
    EXPECT_EQ(programEnds, 1);
    EXPECT_FALSE(icon.isVisible());
}

}  // namespace
