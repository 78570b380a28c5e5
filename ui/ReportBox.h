#pragma once

// The report text: bytes with CR LF line ends, shown in a text box. The bytes
// are the truth; the box shows them and, when the user types, they follow it.

#include "window/WindowScan.h"

#include <QColor>
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

    // The box can always be read, scrolled and selected; it can be changed
    // only while editable. Locked, it keeps the look of a box that cannot be.
    void SetEditable(bool editable);
    bool Editable() const;

    // Colours of text boxes and lists: at least 4.5:1 in every state.
    static inline const QColor kTextColour{0x1f, 0x29, 0x33};
    static inline const QColor kLockedBase{0xec, 0xef, 0xf2};
    static inline const QColor kHighlight{0x1d, 0x5f, 0x99};

    // Display text of report bytes, and report bytes of display text.
    static QString ToDisplay(std::string_view text);
    static std::string FromDisplay(const QString& text);

private:
    void OnUserEdit();

    QPlainTextEdit& view_;
    std::string text_;
    bool writing_ = false;
};
