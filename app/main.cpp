#include "engine/Failure.h"
#include "engine/platform/ApplicationFolder.h"
#include "ui/frmTev.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

// Installed, the program keeps its files in the user's data folder, made
// ready here; a failure leaves the window to say what is missing.
QString PreparedApplicationFolder()
{
    const qirn::Installation installation = qirn::CurrentInstallation();
    try {
        return QFile::decodeName(qirn::PrepareApplicationFolder(installation).c_str());
    } catch (const qirn::Failure& failure) {
        std::fprintf(stderr, "qirn-checker: %s\n", failure.description());
        return QFile::decodeName(qirn::ApplicationFolder(installation).c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qirn-checker"));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QIRN_APP_ID));
    // The window ends the program itself when it unloads.
    QApplication::setQuitOnLastWindowClosed(false);
    FormEnvironment environment = RealEnvironment();
    environment.applicationFolder = PreparedApplicationFolder();
    frmTev form(environment);
    form.Load();
    return QApplication::exec();
}
