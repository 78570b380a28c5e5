#include "app/ToolWindow.h"

#include <QFile>
#include <QTest>

#include <cstdio>

bool ToolWindow::Open(const char* signatureFile, const char* scanFolder)
{
    if (!QFile::copy(QString::fromLocal8Bit(signatureFile), applicationFolder_.filePath(QStringLiteral("sa.kvd")))) {
        std::fputs("cannot copy the signature file\n", stderr);
        return false;
    }
    FormEnvironment environment = RealEnvironment();
    environment.applicationFolder = applicationFolder_.path();
    environment.messages = &messages_;
    environment.scanFolder = QString::fromLocal8Bit(scanFolder);
    form_ = std::make_unique<frmTev>(environment);
    form_->Load();
    return QTest::qWaitForWindowExposed(form_.get());
}
