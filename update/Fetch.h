#pragma once

// One HTTP GET whose body is wanted as bytes, waited for in a local event loop.

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;

namespace qirn {

enum class DownloadStatus {
    Ok,
    HttpError,     // the server answered with a status outside 2xx
    NetworkError,  // no answer: refused, unreachable, broken off
    TimedOut,
    TooLarge,     // the body exceeds the cap
    Rejected,     // the body is no signature file
    Unauthentic,  // its signature is missing, wrong, for another file or replayed
    WriteFailed,  // the destination could not be replaced
};

struct FetchLimits {
    // Waiting longer than this for the next byte ends the transfer.
    std::chrono::milliseconds timeout{10'000};
    // The whole transfer, redirects included, ends by then however the bytes trickle.
    std::chrono::milliseconds deadline{120'000};
    qint64 maxBytes = qint64{256} << 20;
};

// bytes is the whole body when status is Ok, empty otherwise.
struct DownloadResult {
    DownloadStatus status = DownloadStatus::Ok;
    QString errorText;
    QByteArray bytes;
};

// Runs events other than user input until the transfer has ended. Only a
// complete, unencoded 200 answer is Ok; redirects are followed unless they
// lead from https to http.
// trustedRoots, when not empty, are the only certificates trusted for https.
DownloadResult Fetch(QNetworkAccessManager& manager, const QUrl& url, const FetchLimits& limits = {},
    const QList<QSslCertificate>& trustedRoots = {});

}  // namespace qirn
