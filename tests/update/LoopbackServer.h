#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for tests, served by the test's own
// event loop: each request gets the response set for it, or no answer at all.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <optional>

namespace qirn::test {

struct HttpResponse {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType = "application/octet-stream";
    QByteArray body;
    bool lengthHeader = true;
    std::optional<qint64> announcedLength;  // instead of the body's size
    bool keepOpen = false;                  // after the body, neither close nor send more
};

HttpResponse HtmlError(int status, const QByteArray& reason);

class LoopbackServer : public QObject {
public:
    LoopbackServer();

    // pathAndQuery: what follows host and port, e.g. "/sa.kvd?a=1".
    QUrl Url(const QString& pathAndQuery = QStringLiteral("/signatures/sa.kvd?a=1")) const;
    // A loopback URL whose port was just closed, so connecting is refused.
    static QUrl RefusedUrl();

    void Respond(HttpResponse response) { response_ = std::move(response); }
    // Requests are read but never answered.
    void NeverAnswer() { response_.reset(); }

    // Runs when a request has arrived, before it is answered.
    std::function<void()> onRequest;
    // The first line of every request so far, e.g. "GET /sa.kvd?a=1 HTTP/1.1".
    const QList<QByteArray>& RequestLines() const { return requestLines_; }

private:
    void Accept();
    void Serve(QTcpSocket& socket);

    QTcpServer server_;
    std::optional<HttpResponse> response_;
    QList<QByteArray> requestLines_;
};

}  // namespace qirn::test
