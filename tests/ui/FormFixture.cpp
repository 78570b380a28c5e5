#include "tests/ui/FormFixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <QTimer>

namespace qirn::uitest {

QString FormFixture::Text(const char* label) const
{
    const auto* widget = Get<QLabel>(label);
    return widget == nullptr ? QString() : widget->text();
}

void FormFixture::Click(const char* widget) const
{
    auto* target = Get<QWidget>(widget);
    ASSERT_NE(target, nullptr);
    // A check box reacts to a click on its indicator, at its left edge.
    const QPoint where = qobject_cast<QAbstractButton*>(target) != nullptr && target->inherits("QCheckBox")
        ? QPoint(8, target->height() / 2)
        : target->rect().center();
    QTest::mouseClick(target, Qt::LeftButton, {}, where);
}

void FormFixture::Tick(const char* timer) const
{
    auto* target = Get<QTimer>(timer);
    ASSERT_NE(target, nullptr);
    ASSERT_TRUE(QMetaObject::invokeMethod(target, "timeout", Qt::DirectConnection));
}

}  // namespace qirn::uitest
