#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for tests, served by the test's own
// event loop: each request gets the response set for its path, or the one set
// for every path, or no answer at all. With Scheme::Https it speaks TLS with
// a certificate for 127.0.0.1 made when the first such server starts.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace qirn::test {

struct HttpResponse {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType = "application/octet-stream";
    QByteArray body;
    bool lengthHeader = true;
    std::optional<qint64> announcedLength;  // instead of the body's size
    bool keepOpen = false;                  // after the body, neither close nor send more
    QByteArray headers;                     // more header lines, each ending in CR LF
    std::chrono::milliseconds drip{0};      // when set, the body goes out one byte per period
};

HttpResponse HtmlError(int status, const QByteArray& reason);
// A 302 answer that sends the client to location.
HttpResponse Redirect(const QUrl& location);

class LoopbackServer : public QObject {
public:
    enum class Scheme { Http, Https };

    explicit LoopbackServer(Scheme scheme = Scheme::Http);
    ~LoopbackServer() override;

    // pathAndQuery: what follows host and port, e.g. "/sa.kvd?a=1".
    QUrl Url(const QString& pathAndQuery = QStringLiteral("/signatures/sa.kvd?a=1")) const;
    // A loopback URL whose port was just closed, so connecting is refused.
    static QUrl RefusedUrl();
    // The PEM file of the certificate an Https server presents (its own CA).
    static QString CertificateFile();

    void Respond(HttpResponse response) { response_ = std::move(response); }
    // For requests of this path only (the query does not count); others get
    // what Respond set.
    void RespondAt(const QString& path, const HttpResponse& response) { byPath_.insert(path, response); }
    // Requests are read but never answered, except those of paths set with RespondAt.
    void NeverAnswer() { response_.reset(); }

    // Runs when a request has arrived, before it is answered.
    std::function<void()> onRequest;
    // The first line of every request so far, e.g. "GET /sa.kvd?a=1 HTTP/1.1".
    const QList<QByteArray>& RequestLines() const { return requestLines_; }
    // The header lines of the last request.
    const QByteArray& LastRequestHead() const { return lastHead_; }

private:
    void Accept();
    void Serve(QTcpSocket& socket, const QByteArray& requestLine);

    Scheme scheme_;
    std::unique_ptr<QTcpServer> server_;
    std::optional<HttpResponse> response_;
    QHash<QString, HttpResponse> byPath_;
    QList<QByteArray> requestLines_;
    QByteArray lastHead_;
};

}  // namespace qirn::test
