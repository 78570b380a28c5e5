// The main of every test program that needs Qt: a widget application on the
// offscreen platform unless the environment names one (the real-window run
// names xcb), and no proxy, so that requests to the loopback server never
// leave the machine.

#include <QApplication>
#include <QFile>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Scans keep their digest cache here, not in the user's own cache folder.
    const QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
    QApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
