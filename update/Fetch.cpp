#include "update/Fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>
#include <optional>

namespace qirn {

namespace {

QString TooLargeText(qint64 maxBytes)
{
    return QStringLiteral("the body is larger than %1 bytes").arg(maxBytes);
}

}  // namespace

DownloadResult Fetch(QNetworkAccessManager& manager, const QUrl& url, const FetchLimits& limits)
{
    QNetworkRequest request(url);
    const std::unique_ptr<QNetworkReply> reply(manager.get(request));

    QByteArray body;
    std::optional<DownloadResult> stopped;
    const auto stop = [&](DownloadStatus status, const QString& text) {
        if (stopped || reply->isFinished())
            return;
        stopped = DownloadResult{status, text, {}};
        reply->abort();
    };

    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(limits.timeout);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        stop(DownloadStatus::TimedOut,
            QStringLiteral("no data for %1 ms").arg(static_cast<qint64>(limits.timeout.count())));
    });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        bool known = false;
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && announced > limits.maxBytes)
            stop(DownloadStatus::TooLarge, TooLargeText(limits.maxBytes));
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        idle.start();
        // Checked before reading, so no more than the cap is ever held.
        if (body.size() + reply->bytesAvailable() > limits.maxBytes)
            stop(DownloadStatus::TooLarge, TooLargeText(limits.maxBytes));
        else
            body += reply->readAll();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);

    idle.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    idle.stop();
    // QCoreApplication::exit() leaves every loop, this one too.
    if (!reply->isFinished())
        stop(DownloadStatus::NetworkError, QStringLiteral("the transfer was interrupted"));

    if (stopped)
        return *stopped;
    if (body.size() + reply->bytesAvailable() > limits.maxBytes)
        return {DownloadStatus::TooLarge, TooLargeText(limits.maxBytes), {}};
    body += reply->readAll();

    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (code.isValid() && (code.toInt() < 200 || code.toInt() > 299)) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return {DownloadStatus::HttpError, QStringLiteral("HTTP %1 %2").arg(code.toInt()).arg(reason), {}};
    }
    if (reply->error() != QNetworkReply::NoError)
        return {DownloadStatus::NetworkError, reply->errorString(), {}};
    if (!code.isValid())
        return {DownloadStatus::NetworkError, QStringLiteral("no HTTP status"), {}};
    return {DownloadStatus::Ok, {}, body};
}

}  // namespace qirn
