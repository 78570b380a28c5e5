#include "update/Fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>
#include <optional>

namespace qirn {

namespace {

constexpr int kMaxRedirects = 5;

QString TooLargeText(qint64 maxBytes)
{
    return QStringLiteral("the body is larger than %1 bytes").arg(maxBytes);
}

}  // namespace

DownloadResult Fetch(QNetworkAccessManager& manager, const QUrl& url, const FetchLimits& limits,
    const QList<QSslCertificate>& trustedRoots)
{
    QNetworkRequest request(url);
    // Qt would inflate gzip itself and take a cut-off stream as complete.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    if (!trustedRoots.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(trustedRoots);
        request.setSslConfiguration(tls);
    }
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

    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setInterval(limits.deadline);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        stop(DownloadStatus::TimedOut,
            QStringLiteral("not finished within %1 ms").arg(static_cast<qint64>(limits.deadline.count())));
    });

    idle.start();
    deadline.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    idle.stop();
    deadline.stop();
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
    // 206 and the other 2xx answers do not carry the whole file as it is.
    if (code.toInt() != 200) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return {DownloadStatus::HttpError,
            QStringLiteral("HTTP %1 %2: not the whole file").arg(code.toInt()).arg(reason), {}};
    }
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        return {DownloadStatus::HttpError,
            QStringLiteral("the body is encoded (%1) though no encoding was accepted")
                .arg(QString::fromLatin1(encoding)),
            {}};
    }
    // Qt may take a chunked body cut off by a closed connection for the whole
    // body, so its end cannot be told; a static file comes with its length.
    if (reply->rawHeader("Transfer-Encoding").toLower().contains("chunked")) {
        return {DownloadStatus::NetworkError, QStringLiteral("the body came in chunks, so its end cannot be confirmed"),
            {}};
    }
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced != body.size()) {
        return {DownloadStatus::NetworkError,
            QStringLiteral("the transfer ended after %1 of %2 bytes").arg(body.size()).arg(announced), {}};
    }
    return {DownloadStatus::Ok, {}, body};
}

}  // namespace qirn
