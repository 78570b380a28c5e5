#include "ui/Adapters.h"

#include "engine/text/TextEscape.h"

#include <QDateTime>
#include <QLocale>

void HitLists::AddHit(qirn::Hit hit)
{
    const std::string& path = hit.path.native();
    // Shown with control characters escaped, so that each entry is one row;
    // the path's own bytes stay in kPathRole for Delete.
    const std::string shownName = qirn::ShownText(hit.signatureName);
    auto* name =
        new QListWidgetItem(QString::fromLocal8Bit(shownName.data(), static_cast<qsizetype>(shownName.size())));
    // Lists cut long texts in the middle; the tooltip holds the whole text.
    name->setToolTip(name->text());
    name->setData(kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    name->setData(kDeviceRole, QVariant::fromValue<qulonglong>(hit.identity.device));
    name->setData(kInodeRole, QVariant::fromValue<qulonglong>(hit.identity.inode));
    name->setData(kDigestRole,
        QByteArray(reinterpret_cast<const char*>(hit.digest.data()), static_cast<qsizetype>(hit.digest.size())));
    name->setData(
        kSignatureRole, QByteArray(hit.signatureName.data(), static_cast<qsizetype>(hit.signatureName.size())));
    names_.addItem(name);
    const std::string shown = qirn::ShownText(path);
    auto* shownPath = new QListWidgetItem(QString::fromLocal8Bit(shown.data(), static_cast<qsizetype>(shown.size())));
    shownPath->setToolTip(shownPath->text());
    paths_.addItem(shownPath);
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
