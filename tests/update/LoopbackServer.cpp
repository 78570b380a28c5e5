#include "tests/update/LoopbackServer.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>
#include <stdexcept>

namespace qirn::test {

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

LoopbackServer::LoopbackServer()
{
    if (!server_.listen(QHostAddress::LocalHost))
        throw std::runtime_error("cannot listen on 127.0.0.1");
    connect(&server_, &QTcpServer::newConnection, this, &LoopbackServer::Accept);
}

QUrl LoopbackServer::Url(const QString& pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(pathAndQuery));
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
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
            *received += socket->readAll();
            const qsizetype headEnd = received->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            requestLines_.append(received->left(received->indexOf("\r\n")));
            received->remove(0, headEnd + 4);
            Serve(*socket);
        });
    }
}

void LoopbackServer::Serve(QTcpSocket& socket)
{
    if (onRequest)
        onRequest();
    if (!response_)
        return;
    const HttpResponse& r = *response_;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
    head += "Content-Type: " + r.contentType + "\r\n";
    if (r.lengthHeader)
        head += "Content-Length: " + QByteArray::number(r.announcedLength.value_or(r.body.size())) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket.write(head + r.body);
    if (!r.keepOpen)
        socket.disconnectFromHost();
}

}  // namespace qirn::test
