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

}  // namespace
}  // namespace qirn
