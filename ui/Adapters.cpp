#include "ui/Adapters.h"

#include <QDateTime>
#include <QLocale>

void HitLists::AddHit(qirn::Hit hit)
{
    const std::string& path = hit.path.native();
    auto* name = new QListWidgetItem(
        QString::fromLocal8Bit(hit.signatureName.data(), static_cast<qsizetype>(hit.signatureName.size())));
    name->setData(kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    name->setData(kDeviceRole, QVariant::fromValue<qulonglong>(hit.identity.device));
    name->setData(kInodeRole, QVariant::fromValue<qulonglong>(hit.identity.inode));
    names_.addItem(name);
    paths_.addItem(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
}

std::int64_t LocalClock::LocalSeconds()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toSecsSinceEpoch() + now.offsetFromUtc();
}

std::string LocalClock::DateTimeText()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    const QString text = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
        locale.toString(now.time(), QLocale::LongFormat);
    return text.toLocal8Bit().toStdString();
}
