// Times one whole scan through the window, as a click on "Scan" runs it.
// Usage: qirn-window-scan SIGNATURE_FILE FOLDER
// Prints: seconds, files examined and hits, tab-separated.

#include "MessageBox.h"
#include "frmTev.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

class NoMessages final : public MessageBoxes {
public:
    void Information(QWidget*, const QString&) override { }
    void Warning(QWidget*, const QString&) override { }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("Usage: qirn-window-scan SIGNATURE_FILE FOLDER\n", stderr);
        return 2;
    }
    QTemporaryDir applicationFolder;
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), applicationFolder.filePath(QStringLiteral("sa.kvd")))) {
        std::fputs("qirn-window-scan: cannot copy the signature file\n", stderr);
        return 2;
    }
    NoMessages messages;
    FormEnvironment environment;
    environment.applicationFolder = applicationFolder.path();
    environment.messages = &messages;
    environment.scanFolder = QString::fromLocal8Bit(argv[2]);
    frmTev form(environment);
    form.Load();
    if (!QTest::qWaitForWindowExposed(&form))
        return 2;

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("cmdScan")), Qt::LeftButton);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf("%.6f\t%llu\t%d\n", seconds, static_cast<unsigned long long>(form.Counter().Total()),
        form.findChild<QListWidget*>(QStringLiteral("lstVNa"))->count());
    form.Tray().TrayRemove();
    return 0;
}
