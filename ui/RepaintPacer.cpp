#include "ui/RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintPacer::RepaintPacer(QWidget& window, int intervalMs) : QObject(&window), window_(window), intervalMs_(intervalMs)
{
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this,
        [this] { QCoreApplication::postEvent(&window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority); });
    window_.installEventFilter(this);
}

bool RepaintPacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &window_ || event->type() != QEvent::UpdateRequest)
        return false;
    const qint64 elapsed = sincePaint_.isValid() ? sincePaint_.elapsed() : intervalMs_;
    if (elapsed >= intervalMs_) {
        sincePaint_.restart();
        return false;
    }
    // The window keeps its dirty region and asks for no other repaint until
    // this one has been delivered.
    if (!later_.isActive())
        later_.start(static_cast<int>(intervalMs_ - elapsed));
    return true;
}
