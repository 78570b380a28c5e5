// The tray wrapper without a notification area: tips, hiding on add, and
// the restore request for button releases only.

#include "tray/TrayIcon.h"
#include "tray/TrayMouseEvent.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace mdlTray {
namespace {

QIcon SomeIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::blue);
    return QIcon(pixmap);
}

TEST(TrayIcon, AddHidesTheWindowAndModifyOnlyRetitles)
{
    QWidget window;
    window.show();
    TrayIcon tray;
    tray.TrayAdd(SomeIcon(), QStringLiteral("QIRN Checker 1.0"), window);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(tray.Present());
    EXPECT_EQ(tray.Tip(), QStringLiteral("QIRN Checker 1.0"));

    window.show();
    tray.TrayModify(SomeIcon(), QStringLiteral("QIRN Checker 1.0 - On Duty"), window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(tray.Tip(), QStringLiteral("QIRN Checker 1.0 - On Duty"));

    tray.TrayModify(SomeIcon(), QString(70, QLatin1Char('t')), window);
    EXPECT_EQ(tray.Tip().size(), 64);

    tray.TrayRemove();
    EXPECT_FALSE(tray.Present());
}

TEST(TrayIcon, OnlyButtonReleasesAskForTheWindow)
{
    TrayIcon tray;
    QSignalSpy restore(&tray, &TrayIcon::restoreRequested);
    for (const std::int32_t message : {kMouseMove, kLeftButtonDoubleClick, kMiddleButtonUp, 0x201, 0x204})
        tray.OnMouseMessage(message);
    EXPECT_EQ(restore.count(), 0);
    tray.OnMouseMessage(kLeftButtonUp);
    tray.OnMouseMessage(kRightButtonUp);
    EXPECT_EQ(restore.count(), 2);
}

TEST(TrayIcon, RestoreShowsAHiddenWindowAndUnminimises)
{
    QWidget window;
    TrayIcon::TrayRestore(window);
    EXPECT_TRUE(window.isVisible());
    window.showMinimized();
    TrayIcon::TrayRestore(window);
    EXPECT_FALSE(window.isMinimized());
}

}  // namespace
}  // namespace mdlTray
