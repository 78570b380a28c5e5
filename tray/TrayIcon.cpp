#include "tray/TrayIcon.h"

#include "tray/TrayMouseEvent.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QWidget>

namespace mdlTray {

namespace {

std::int32_t MessageOf(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return kLeftButtonUp;
    case QSystemTrayIcon::Context:
        return kRightButtonUp;
    case QSystemTrayIcon::DoubleClick:
        return kLeftButtonDoubleClick;
    case QSystemTrayIcon::MiddleClick:
        return kMiddleButtonUp;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return kMouseMove;
}

// The icon's own window in an XEmbed notification area. Qt reports a click
// on it at the press; its presses and releases are decoded here instead.
bool IsXEmbedIcon(const QObject* watched)
{
    return watched->isWidgetType() && watched->inherits("QSystemTrayIconSys");
}

std::int32_t ReleaseMessage(const QMouseEvent& event)
{
    switch (event.button()) {
    case Qt::LeftButton:
        return kLeftButtonUp;
    case Qt::RightButton:
        return kRightButtonUp;
    case Qt::MiddleButton:
        return kMiddleButtonUp;
    default:
        return kMouseMove;
    }
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), icon_(std::make_unique<QSystemTrayIcon>())
{
    connect(icon_.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { OnMouseMessage(MessageOf(reason)); });
    QCoreApplication::instance()->installEventFilter(this);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Fill(const QIcon& icon, const QString& tip)
{
    tipField_ = TipField(
        std::u16string_view(reinterpret_cast<const char16_t*>(tip.utf16()), static_cast<std::size_t>(tip.size())));
    const std::u16string_view text = TipText(tipField_);
    icon_->setIcon(icon);
    icon_->setToolTip(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
}

void TrayIcon::TrayAdd(const QIcon& icon, const QString& tip, QWidget& window)
{
    Fill(icon, tip);
    icon_->show();
    window.hide();
}

void TrayIcon::TrayModify(const QIcon& icon, const QString& tip, QWidget&)
{
    Fill(icon, tip);
}

void TrayIcon::TrayRestore(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
}

void TrayIcon::TrayRemove()
{
    icon_->hide();
}

bool TrayIcon::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QString TrayIcon::Tip() const
{
    return icon_->toolTip();
}

bool TrayIcon::Present() const
{
    return icon_->isVisible();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease) || !IsXEmbedIcon(watched))
        return false;
    if (type == QEvent::MouseButtonPress)
        return true;  // a press alone does nothing
    const auto& release = static_cast<const QMouseEvent&>(*event);
    // The icon keeps the pointer from the press on; a release elsewhere is no click.
    if (static_cast<const QWidget*>(watched)->rect().contains(release.position().toPoint()))
        OnMouseMessage(ReleaseMessage(release));
    return true;
}

void TrayIcon::OnMouseMessage(std::int32_t message)
{
    if (TrayMouseEvent(message, CoordinateUnit::Pixel, kTwipsPerPixel) > 0)
        emit restoreRequested();
}

}  // namespace mdlTray
