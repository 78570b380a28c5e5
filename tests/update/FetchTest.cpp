#include "update/Fetch.h"
#include "tests/update/LoopbackServer.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace qirn {
namespace {

using namespace std::chrono_literals;
using test::HttpResponse;
using test::LoopbackServer;

HttpResponse Body(QByteArray body)
{
    HttpResponse response;
    response.body = std::move(body);
    return response;
}

class FetchTest : public ::testing::Test {
protected:
    DownloadResult FetchFromServer(const FetchLimits& limits = {}) { return Fetch(manager_, server_.Url(), limits); }

    LoopbackServer server_;
    QNetworkAccessManager manager_;
};

TEST_F(FetchTest, ReturnsTheBodyOfOneGetUnchanged)
{
    const QByteArray body = QByteArray("a\r\nb\nc\rd\0e\xff", 11) + QByteArray(100000, 'z');
    server_.Respond(Body(body));
    const DownloadResult result = FetchFromServer();
    EXPECT_EQ(result.status, DownloadStatus::Ok) << result.errorText.toStdString();
    EXPECT_EQ(result.bytes, body);
    EXPECT_EQ(server_.RequestLines(), QList<QByteArray>{"GET /signatures/sa.kvd?a=1 HTTP/1.1"});
}

TEST_F(FetchTest, SizeCapBoundaries)
{
    struct Case {
        const char* what;
        HttpResponse response;
        DownloadStatus status;
    };
    constexpr qint64 kCap = 4096;
    const auto unannounced = [](QByteArray body, bool keepOpen) {
        HttpResponse response = Body(std::move(body));
        response.lengthHeader = false;
        response.keepOpen = keepOpen;
        return response;
    };
    HttpResponse liar = Body("short");
    liar.announcedLength = kCap + 1;
    liar.keepOpen = true;
    const std::vector<Case> cases = {
        {"exactly the cap", Body(QByteArray(kCap, 'x')), DownloadStatus::Ok},
        {"one byte over the cap", Body(QByteArray(kCap + 1, 'x')), DownloadStatus::TooLarge},
        {"exactly the cap, no length", unannounced(QByteArray(kCap, 'x'), false), DownloadStatus::Ok},
        {"over the cap, no length", unannounced(QByteArray(kCap + 1, 'x'), false), DownloadStatus::TooLarge},
        // The server then neither sends nor closes: only stopping at the cap ends it.
        {"over the cap, then silence", unannounced(QByteArray(4 * kCap, 'x'), true), DownloadStatus::TooLarge},
        {"announced over the cap, then silence", liar, DownloadStatus::TooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server_.Respond(c.response);
        const DownloadResult result = FetchFromServer({.timeout = 30s, .maxBytes = kCap});
        EXPECT_EQ(result.status, c.status) << result.errorText.toStdString();
        EXPECT_EQ(result.bytes.size(), c.status == DownloadStatus::Ok ? kCap : 0);
    }
}

TEST_F(FetchTest, TransferCutShortFails)
{
    HttpResponse cut = Body("0cc175b9c0f1b6a831c399e269772661=One\r\n");
    cut.announcedLength = 1000;
    server_.Respond(cut);
    const DownloadResult result = FetchFromServer();
    EXPECT_EQ(result.status, DownloadStatus::NetworkError);
    EXPECT_TRUE(result.bytes.isEmpty());
}

// Leaves every event loop when the first piece of a body arrives.
class ExitingManager final : public QNetworkAccessManager {
protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, data);
        connect(reply, &QNetworkReply::readyRead, this, [] { QCoreApplication::exit(0); });
        return reply;
    }
};

TEST_F(FetchTest, ApplicationExitDuringTheTransferFails)
{
    HttpResponse partial = Body("0cc175b9c0f1b6a831c399e269772661=One\r\n");
    partial.announcedLength = 1000;
    partial.keepOpen = true;
    server_.Respond(partial);
    ExitingManager exiting;
    const DownloadResult result = Fetch(exiting, server_.Url());
    EXPECT_EQ(result.status, DownloadStatus::NetworkError);
    EXPECT_TRUE(result.bytes.isEmpty());

    // exec() clears the exit request again for the tests that follow.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    server_.Respond(Body("x"));
    EXPECT_EQ(FetchFromServer().status, DownloadStatus::Ok);
}

TEST_F(FetchTest, AnswersThatAreNotTheWholeFileFail)
{
    const QByteArray list = "0cc175b9c0f1b6a831c399e269772661=One\r\n92eb5ffee6ae2fec3ad71c777531578f=Two\r\n";
    struct Case {
        const char* what;
        HttpResponse response;
        DownloadStatus status;
    };
    HttpResponse partial = Body(list.left(20));
    partial.status = 206;
    partial.reason = "Partial Content";
    partial.headers = "Content-Range: bytes 0-19/" + QByteArray::number(list.size()) + "\r\n";
    HttpResponse noContent = Body({});
    noContent.status = 204;
    noContent.reason = "No Content";
    // The gzip stream of the list, cut before its end and its checksum.
    HttpResponse cutGzip = Body(QByteArray::fromBase64("H4sIAAAAAAAAAwXBsRGAMAgF0D532UXg4IciM9i4QIJQaun6vndEEA=="));
    cutGzip.headers = "Content-Encoding: gzip\r\n";
    HttpResponse dripping = Body(list);
    dripping.drip = 20ms;
    HttpResponse cut = Body(list.left(50));
    cut.lengthHeader = false;
    cut.headers = "Transfer-Encoding: chunked\r\n";
    cut.body = "32\r\n" + list.left(50) + "\r\n";
    const std::vector<Case> cases = {
        {"206 Partial Content", partial, DownloadStatus::HttpError},
        {"204 No Content", noContent, DownloadStatus::HttpError},
        {"gzip that was not asked for, cut short", cutGzip, DownloadStatus::HttpError},
        {"a byte every 20 ms, past the deadline", dripping, DownloadStatus::TimedOut},
        {"chunks without the last one", cut, DownloadStatus::NetworkError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server_.Respond(c.response);
        const DownloadResult result = FetchFromServer({.timeout = 30s, .deadline = 500ms});
        EXPECT_EQ(result.status, c.status) << result.errorText.toStdString();
        EXPECT_FALSE(result.errorText.isEmpty());
        EXPECT_TRUE(result.bytes.isEmpty());
    }
    EXPECT_TRUE(server_.LastRequestHead().toLower().contains("\r\naccept-encoding: identity"));
}

}  // namespace
}  // namespace qirn
