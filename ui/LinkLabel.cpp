#include "ui/LinkLabel.h"

#include "resources/Artwork.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// A link as assistive technology sees it: its text, and a press action.
class LinkLabelAccessible final : public QAccessibleWidget {
public:
    explicit LinkLabelAccessible(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) { }

    QString text(QAccessible::Text kind) const override
    {
        QString own = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && own.isEmpty())
            return static_cast<const LinkLabel*>(widget())->text();
        return own;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            static_cast<LinkLabel*>(widget())->Activate();
    }

    static QAccessibleInterface* Create(const QString& className, QObject* object)
    {
        if (className == QLatin1String("LinkLabel"))
            return new LinkLabelAccessible(static_cast<LinkLabel*>(object));
        return nullptr;
    }
};

}  // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    static const bool installed = (QAccessible::installFactory(LinkLabelAccessible::Create), true);
    Q_UNUSED(installed);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Artwork::HandCursor());
    setFocusPolicy(Qt::StrongFocus);
}

void LinkLabel::Activate()
{
    if (isEnabled())
        emit clicked();
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void LinkLabel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Activate();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void LinkLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The keyboard's place: a dotted frame in the text's colour, which shows
    // on the dark navigation column and on the light panels alike.
    QPainter painter(this);
    painter.setPen(QPen(palette().color(foregroundRole()), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
