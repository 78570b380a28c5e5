#pragma once

#include <QLabel>

// A label for a text that can be longer than the label by nature (a path, a
// file or signature name). text() stays the whole text; what is painted is
// the text cut in the middle with "…" so that it fits, on as many lines as
// the label's height holds when word wrap is on, and the whole text shows as
// the tooltip whenever it was cut.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent);

    // The lines painted for the current text, size and font.
    QStringList ShownLines() const;
    bool Elided() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int LineBudget() const;
};
