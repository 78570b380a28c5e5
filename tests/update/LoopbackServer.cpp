#include "tests/update/LoopbackServer.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <stdexcept>

namespace qirn::test {

namespace {

// A self-signed certificate for 127.0.0.1, made once per test process.
struct TestCertificate {
    QTemporaryDir folder;
    QString certificateFile;
    QSslCertificate certificate;
    QSslKey key;

    TestCertificate()
    {
        if (!folder.isValid())
            throw std::runtime_error("no temporary folder for the test certificate");
        certificateFile = folder.filePath(QStringLiteral("cert.pem"));
        const QString keyFile = folder.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                keyFile, QStringLiteral("-out"), certificateFile});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            throw std::runtime_error(
                "openssl could not make the test certificate: " + openssl.readAllStandardError().toStdString());
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificateFile);
        QFile keyIn(keyFile);
        if (certificates.size() != 1 || !keyIn.open(QIODevice::ReadOnly))
            throw std::runtime_error("the test certificate cannot be read");
        certificate = certificates.front();
        key = QSslKey(&keyIn, QSsl::Ec);
        if (key.isNull())
            throw std::runtime_error("the test key cannot be read");
    }
};

const TestCertificate& Certificate()
{
    static const TestCertificate made;
    return made;
}

}  // namespace

HttpResponse HtmlError(int status, const QByteArray& reason)
{
    HttpResponse response;
    response.status = status;
    response.reason = reason;
    response.contentType = "text/html";
    response.body = "<html><head><title>" + QByteArray::number(status) + ' ' + reason + "</title></head><body><h1>" +
        reason + "</h1></body></html>\r\n";
    return response;
}

HttpResponse Redirect(const QUrl& location)
{
    HttpResponse response;
    response.status = 302;
    response.reason = "Found";
    response.headers = "Location: " + location.toEncoded() + "\r\n";
    return response;
}

LoopbackServer::LoopbackServer(Scheme scheme) : scheme_(scheme)
{
    if (scheme == Scheme::Https) {
        auto tls = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(Certificate().certificate);
        configuration.setPrivateKey(Certificate().key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls->setSslConfiguration(configuration);
        server_ = std::move(tls);
    } else {
        server_ = std::make_unique<QTcpServer>();
    }
    if (!server_->listen(QHostAddress::LocalHost))
        throw std::runtime_error("cannot listen on 127.0.0.1");
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &LoopbackServer::Accept);
}

LoopbackServer::~LoopbackServer() = default;

QString LoopbackServer::CertificateFile()
{
    return Certificate().certificateFile;
}

QUrl LoopbackServer::Url(const QString& pathAndQuery) const
{
    const QString scheme = scheme_ == Scheme::Https ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(server_->serverPort()).arg(pathAndQuery));
}

QUrl LoopbackServer::RefusedUrl()
{
    QTcpServer closed;
    if (!closed.listen(QHostAddress::LocalHost))
        throw std::runtime_error("cannot listen on 127.0.0.1");
    const quint16 port = closed.serverPort();
    closed.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/sa.kvd?a=1").arg(port));
}

void LoopbackServer::Accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        auto received = std::make_shared<QByteArray>();
        const auto readRequests = [this, socket, received] {
            *received += socket->readAll();
            const qsizetype headEnd = received->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            const QByteArray requestLine = received->left(received->indexOf("\r\n"));
            requestLines_.append(requestLine);
            lastHead_ = received->left(headEnd);
            received->remove(0, headEnd + 4);
            Serve(*socket, requestLine);
        };
        connect(socket, &QTcpSocket::readyRead, this, readRequests);
        // With TLS the request may have arrived during the handshake.
        if (socket->bytesAvailable() > 0)
            readRequests();
    }
}

void LoopbackServer::Serve(QTcpSocket& socket, const QByteArray& requestLine)
{
    if (onRequest)
        onRequest();
    const QList<QByteArray> parts = requestLine.split(' ');
    const QString path = parts.size() > 1 ? QUrl(QString::fromLatin1(parts[1])).path() : QString();
    const auto found = byPath_.constFind(path);
    const std::optional<HttpResponse> chosen = found != byPath_.constEnd() ? std::optional(*found) : response_;
    if (!chosen)
        return;
    const HttpResponse& r = *chosen;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
    head += "Content-Type: " + r.contentType + "\r\n";
    if (r.lengthHeader)
        head += "Content-Length: " + QByteArray::number(r.announcedLength.value_or(r.body.size())) + "\r\n";
    head += r.headers;
    head += "Connection: close\r\n\r\n";
    if (r.drip.count() == 0) {
        socket.write(head + r.body);
        if (!r.keepOpen)
            socket.disconnectFromHost();
        return;
    }
    socket.write(head);
    auto* dripper = new QTimer(&socket);
    dripper->setInterval(r.drip);
    connect(dripper, &QTimer::timeout, &socket, [&socket, dripper, body = r.body, sent = qsizetype{0}]() mutable {
        if (sent == body.size()) {
            dripper->stop();
            socket.disconnectFromHost();
            return;
        }
        socket.write(body.mid(sent++, 1));
    });
    dripper->start();
}

}  // namespace qirn::test
