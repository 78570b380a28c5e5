// Repaints during a burst of caption changes are paced, and the last change
// is always painted.

#include "ui/RepaintPacer.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QLabel& label) : label_(label) { label_.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            lastPainted = label_.text();
        }
        return false;
    }
    int paints = 0;
    QString lastPainted;

private:
    QLabel& label_;
};

TEST(RepaintPacer, BurstOfChangesIsPaintedInFewFramesAndTheLastOneShows)
{
    QWidget window;
    window.resize(200, 50);
    auto* label = new QLabel(&window);
    label->setGeometry(10, 10, 180, 20);
    new RepaintPacer(window, 16);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter(*label);

    constexpr int kChanges = 2000;
    for (int i = 1; i <= kChanges; ++i) {
        label->setText(QString::number(i));
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.lastPainted == QString::number(kChanges); }));
    EXPECT_LT(counter.paints, kChanges / 4);
}

}  // namespace
