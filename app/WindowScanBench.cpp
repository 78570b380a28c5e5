// Times one whole scan through the window, as a click on "Scan" runs it.
// Usage: qirn-window-scan SIGNATURE_FILE FOLDER
// Prints: seconds, files examined and hits, tab-separated.

#include "app/ToolWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("Usage: qirn-window-scan SIGNATURE_FILE FOLDER\n", stderr);
        return 2;
    }
    ToolWindow window;
    if (!window.Open(argv[1], argv[2]))
        return 2;
    frmTev& form = window.form();

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("cmdScan")), Qt::LeftButton);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf("%.6f\t%llu\t%d\n", seconds, static_cast<unsigned long long>(form.Counter().Total()),
        form.findChild<QListWidget*>(QStringLiteral("lstVNa"))->count());
    form.Tray().TrayRemove();
    return 0;
}
