#include "update/Download.h"

#include "engine/SaveFile.h"
#include "engine/SignatureText.h"

#include <QFile>
#include <QNetworkAccessManager>

#include <filesystem>
#include <string_view>

namespace qirn {

QString SignatureBodyRejection(QByteArrayView body)
{
    const auto failure = CheckSignatureText(std::string_view(body.data(), static_cast<std::size_t>(body.size())));
    return failure ? QString::fromUtf8(failure->description()) : QString();
}

DownloadResult ReplaceFileContent(const QString& path, QByteArrayView bytes)
{
    const SaveResult saved = SaveFileContent(std::filesystem::path(QFile::encodeName(path).toStdString()),
        std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
    if (!saved.Ok())
        return {DownloadStatus::WriteFailed, QString::fromLocal8Bit(saved.Describe()), {}};
    return {};
}

DownloadResult DownloadSignatureFile(const QUrl& url, const QString& destination, const FetchLimits& limits)
{
    DownloadResult fetched;
    {
        // A manager of its own: no connection or cache outlives one download.
        QNetworkAccessManager manager;
        fetched = Fetch(manager, url, limits);
    }
    if (fetched.status != DownloadStatus::Ok)
        return fetched;
    const QString rejection = SignatureBodyRejection(fetched.bytes);
    if (!rejection.isEmpty())
        return {DownloadStatus::Rejected, rejection, {}};
    return ReplaceFileContent(destination, fetched.bytes);
}

}  // namespace qirn
