#include "engine/Failure.h"
#include "engine/platform/ApplicationFolder.h"
#include "ui/frmTev.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp = "Usage: qirn-checker [--help | --version]\n"
                              "\n"
                              "Opens the QIRN Checker window: it scans a folder for files whose MD5 or\n"
                              "SHA-256 digest is listed in sa.kvd, and updates that list. Qt's own options\n"
                              "(-platform, -display, ...) are taken as well. For the command line, see\n"
                              "qirn-scan(1) and qirn-sigtool(1).\n"
                              "\n"
                              "  --help     show this text\n"
                              "  --version  show the version\n";

// --help and --version are answered before any window or display is
// touched, so that they work without one; null when neither was asked.
const char* Answer(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return kHelp;
        if (std::strcmp(argv[i], "--version") == 0)
            return "qirn-checker " QIRN_VERSION "\n";
    }
    return nullptr;
}

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
    if (const char* answer = Answer(argc, argv)) {
        std::fputs(answer, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
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
