#include "ui/frmTev.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qirn-checker"));
    // The window ends the program itself when it unloads.
    QApplication::setQuitOnLastWindowClosed(false);
    frmTev form(RealEnvironment());
    form.Load();
    return QApplication::exec();
}
