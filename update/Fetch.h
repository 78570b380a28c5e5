#pragma once

// One HTTP GET whose body is wanted as bytes, waited for in a local event loop.

#include <QByteArray>
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
    WriteFailed,  // the destination could not be replaced
};

struct FetchLimits {
    // Waiting longer than this for the next byte ends the transfer.
    std::chrono::milliseconds timeout{10'000};
    qint64 maxBytes = qint64{256} << 20;
};

// bytes is the whole body when status is Ok, empty otherwise.
struct DownloadResult {
    DownloadStatus status = DownloadStatus::Ok;
    QString errorText;
    QByteArray bytes;
};

// Runs events other than user input until the transfer has ended.
DownloadResult Fetch(QNetworkAccessManager& manager, const QUrl& url, const FetchLimits& limits = {});

}  // namespace qirn
