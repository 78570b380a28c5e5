#pragma once

// The window as the screenshot and benchmark programs open it: a temporary
// application folder holding a copy of a signature file, silent message
// boxes, shown and exposed.

#include "ui/MessageBox.h"
#include "ui/frmTev.h"

#include <QTemporaryDir>

#include <memory>

class ToolWindow {
public:
    // False when the signature file cannot be copied or the window never shows.
    bool Open(const char* signatureFile, const char* scanFolder);
    frmTev& form() { return *form_; }
    QString ApplicationFolder() const { return applicationFolder_.path(); }

private:
    class NoMessages final : public MessageBoxes {
    public:
        void Information(QWidget*, const QString&) override { }
        void Warning(QWidget*, const QString&) override { }
    };

    QTemporaryDir applicationFolder_;
    NoMessages messages_;
    std::unique_ptr<frmTev> form_;
};
