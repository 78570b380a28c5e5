#include "resources/Artwork.h"

#include <QString>

namespace Artwork {

QPixmap Background()
{
    return QPixmap(QStringLiteral(":/qirn/background.jpg"));
}

QIcon WindowIcon()
{
    QIcon icon;
    for (const int size : {16, 20, 24, 64})
        icon.addFile(QStringLiteral(":/qirn/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

QCursor HandCursor()
{
    return QCursor(QPixmap(QStringLiteral(":/qirn/hand.png")), kHandHotX, kHandHotY);
}

}  // namespace Artwork
