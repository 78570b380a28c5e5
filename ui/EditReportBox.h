#pragma once

#include <QCheckBox>

// The three-state "Edit Report" box: values 0, 1 and 2 (greyed). A click
// ticks it unless it is ticked, in which case it unticks it; the greyed value
// is only ever set by code.
class EditReportBox : public QCheckBox {
    Q_OBJECT

public:
    EditReportBox(const QString& text, QWidget* parent);

    int Value() const;
    // Emits stateChanged only when the value changes.
    void SetValue(int value);

protected:
    void nextCheckState() override;
};
