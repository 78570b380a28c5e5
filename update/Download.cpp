#include "update/Download.h"

#include "engine/SignatureText.h"

#include <QNetworkAccessManager>
#include <QSaveFile>

#include <string_view>

namespace qirn {

QString SignatureBodyRejection(QByteArrayView body)
{
    const auto failure = CheckSignatureText(std::string_view(body.data(), static_cast<std::size_t>(body.size())));
    return failure ? QString::fromUtf8(failure->description()) : QString();
}

DownloadResult ReplaceFileContent(const QString& path, QByteArrayView bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {DownloadStatus::WriteFailed, file.errorString(), {}};
    // Qt's commit() misses a short write of the buffered tail; flush() reports it.
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush() || !file.commit()) {
        const QString text = file.errorString();
        file.cancelWriting();
        return {DownloadStatus::WriteFailed, text, {}};
    }
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
