#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paces the repaints of a window to a frame rate. A scan sets two captions
// per file and lets events run after each, which would otherwise repaint
// the window tens of thousands of times a second. Repaints are only ever
// delayed, never lost: what changed in between is painted together.
class RepaintPacer : public QObject {
    Q_OBJECT

public:
    RepaintPacer(QWidget& window, int intervalMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    int intervalMs_;
    QElapsedTimer sincePaint_;
    QTimer later_;
};
