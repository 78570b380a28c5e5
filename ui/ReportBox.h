#pragma once

// The report text: bytes with CR LF line ends, shown in a text box. The bytes
// are the truth; the box shows them and, when the user types, they follow it.

#include "engine/ScanElements.h"

#include <QObject>

#include <string>

class QPlainTextEdit;

class ReportBox final : public QObject, public qirn::ReportText {
    Q_OBJECT

public:
    explicit ReportBox(QPlainTextEdit& view);

    void Append(std::string_view text) override;
    void SetText(std::string text);
    const std::string& Text() const { return text_; }

    // Display text of report bytes, and report bytes of display text.
    static QString ToDisplay(std::string_view text);
    static std::string FromDisplay(const QString& text);

private:
    void OnUserEdit();

    QPlainTextEdit& view_;
    std::string text_;
    bool writing_ = false;
};
