// Photographs each panel of the window after a scan of a sample folder.
// Usage: qirn-screenshots SIGNATURE_FILE SCAN_FOLDER OUTPUT_FOLDER

#include "app/ToolWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <cstdio>

namespace {

// An update from a loopback port where nothing listens, so that the panel
// shows a refusal and its reason without any traffic leaving the machine.
void UpdateFromNowhere(ToolWindow& window)
{
    QFile ini(QDir(window.ApplicationFolder()).filePath(QStringLiteral("qirn-checker.ini")));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Update]\nUrl=http://127.0.0.1:1/signatures/sa.kvd\n");
    ini.close();
    QTest::mouseClick(window.form().findChild<QPushButton*>(QStringLiteral("cmdUpdate")), Qt::LeftButton);
    QTest::qWait(300);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("Usage: qirn-screenshots SIGNATURE_FILE SCAN_FOLDER OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    ToolWindow window;
    if (!window.Open(argv[1], argv[2]))
        return 1;
    frmTev& form = window.form();
    QTest::qWait(1200);  // the first status refresh
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("cmdScan")), Qt::LeftButton);
    QTest::qWait(1200);  // the found count follows at the next refresh

    const QDir output(QString::fromLocal8Bit(argv[3]));
    const char* panels[][2] = {{"lblScan", "scanner"}, {"lblSign", "signatures"}, {"lblInfect", "infections"},
        {"lblRep", "results"}, {"lblUpdate", "update"}, {"lblAbout", "about"}};
    bool ok = true;
    for (const auto& [label, name] : panels) {
        QTest::mouseClick(form.findChild<QLabel*>(QString::fromLatin1(label)), Qt::LeftButton);
        auto* hits = form.findChild<QListWidget*>(QStringLiteral("lstVNa"));
        if (QString::fromLatin1(name) == QStringLiteral("infections") && hits->count() > 0)
            hits->setCurrentRow(0);  // its full path shows below the panel
        if (QString::fromLatin1(name) == QStringLiteral("update"))
            UpdateFromNowhere(window);
        QTest::qWait(100);
        const QString file = output.filePath(QStringLiteral("window-%1.png").arg(QString::fromLatin1(name)));
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "qirn-screenshots: cannot write %s\n", qPrintable(file));
            ok = false;
        }
    }
    form.Tray().TrayRemove();
    return ok ? 0 : 1;
}
