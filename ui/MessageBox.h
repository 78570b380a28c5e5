#pragma once

// Message boxes behind a seam, so that tests never wait on a modal window.

#include <QString>

class QWidget;

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void Information(QWidget* parent, const QString& text) = 0;
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // A box with its own title and the exclamation icon; without one, a warning.
    virtual void Exclamation(QWidget* parent, const QString& /*title*/, const QString& text) { Warning(parent, text); }
};

// The application's title, which boxes without a title of their own carry.
// No application display name is set: the window system would append it to
// every title, the window's own included.
inline constexpr const char* kApplicationTitle = "QIRN Checker";

// Modal boxes with an OK button, titled with the application's title.
class ModalMessageBoxes final : public MessageBoxes {
public:
    void Information(QWidget* parent, const QString& text) override;
    void Warning(QWidget* parent, const QString& text) override;
    void Exclamation(QWidget* parent, const QString& title, const QString& text) override;
};
