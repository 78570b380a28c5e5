#pragma once

// The notification-area icon of the main window. It owns the platform's tray
// icon; the window only calls these procedures and listens for restoreRequested.

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

class QIcon;
class QSystemTrayIcon;
class QWidget;

namespace mdlTray {

class TrayIcon : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon with tip, then hides window.
    void TrayAdd(const QIcon& icon, const QString& tip, QWidget& window);
    void TrayModify(const QIcon& icon, const QString& tip, QWidget& window);
    static void TrayRestore(QWidget& window);
    void TrayRemove();

    // Whether the platform has a notification area to hold the icon.
    static bool Available();

    QString Tip() const;
    bool Present() const;
    QSystemTrayIcon& Icon() { return *icon_; }

    // A mouse message from the icon, as the window would receive it.
    void OnMouseMessage(std::int32_t message);

signals:
    void restoreRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill(const QIcon& icon, const QString& tip);

    std::unique_ptr<QSystemTrayIcon> icon_;
    std::u16string tipField_;
};

}  // namespace mdlTray
