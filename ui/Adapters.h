#pragma once

// The engine's display elements and scan controls, implemented with widgets.

#include "ui/EditReportBox.h"
#include "ui/ReportBox.h"
#include "window/ScanControl.h"
#include "window/WindowScan.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

class LabelCaption final : public qirn::Caption {
public:
    explicit LabelCaption(QLabel& label) : label_(label) { }
    void SetCaption(std::string_view text) override
    {
        label_.setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    }

private:
    QLabel& label_;
};

// Sets a widget's tooltip.
class ToolTipCaption final : public qirn::Caption {
public:
    explicit ToolTipCaption(QWidget& widget) : widget_(widget) { }
    void SetCaption(std::string_view text) override
    {
        widget_.setToolTip(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

private:
    QWidget& widget_;
};

// A label shown only while it has something to say; the whole text is its tooltip.
class NoteCaption final : public qirn::Caption {
public:
    explicit NoteCaption(QLabel& label) : label_(label) { }
    void SetCaption(std::string_view text) override
    {
        const QString note = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        label_.setText(note);
        label_.setToolTip(note);
        label_.setVisible(!note.isEmpty());
    }

private:
    QLabel& label_;
};

class WidgetSwitch final : public qirn::Switch {
public:
    explicit WidgetSwitch(QWidget& widget) : widget_(widget) { }
    void SetEnabled(bool enabled) override { widget_.setEnabled(enabled); }

private:
    QWidget& widget_;
};

// txtRep's enabled state is whether the report can be changed; it can always be read.
class ReportLock final : public qirn::Switch {
public:
    explicit ReportLock(ReportBox& report) : report_(report) { }
    void SetEnabled(bool enabled) override { report_.SetEditable(enabled); }

private:
    ReportBox& report_;
};

class TimerSwitch final : public qirn::Switch {
public:
    explicit TimerSwitch(QTimer& timer) : timer_(timer) { }
    void SetEnabled(bool enabled) override
    {
        if (enabled)
            timer_.start();
        else
            timer_.stop();
    }

private:
    QTimer& timer_;
};

class CheckBoxValue final : public qirn::ValueControl {
public:
    explicit CheckBoxValue(EditReportBox& box) : box_(box) { }
    void SetValue(int value) override { box_.SetValue(value); }

private:
    EditReportBox& box_;
};

class ProgressValue final : public qirn::ValueControl {
public:
    explicit ProgressValue(QProgressBar& bar) : bar_(bar) { }
    void SetValue(int value) override { bar_.setValue(value); }

private:
    QProgressBar& bar_;
};

// The walker's yield: one pass of the Qt event loop.
class QtEventPump final : public qirn::EventPump {
public:
    void ProcessEvents() override { QCoreApplication::processEvents(); }
};

// lstVNa and lstVPt, kept in step; each name item keeps the hit's native path.
class HitLists final : public qirn::InfectionList {
public:
    static constexpr int kPathRole = Qt::UserRole;
    static constexpr int kDeviceRole = Qt::UserRole + 1;
    static constexpr int kInodeRole = Qt::UserRole + 2;
    static constexpr int kDigestRole = Qt::UserRole + 3;
    static constexpr int kSignatureRole = Qt::UserRole + 4;  // the name's own bytes

    HitLists(QListWidget& names, QListWidget& paths) : names_(names), paths_(paths) { }
    void AddHit(qirn::Hit hit) override;

private:
    QListWidget& names_;
    QListWidget& paths_;
};

// The local clock; date-times in the locale's short date and long time.
class LocalClock final : public qirn::Clock {
public:
    std::int64_t LocalSeconds() override;
    std::string DateTimeText() override;
};
