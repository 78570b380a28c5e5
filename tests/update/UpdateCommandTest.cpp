#include "update/UpdateCommand.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"
#include "tests/update/UpdateFixture.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qirn {
namespace {

using namespace std::chrono_literals;
using test::Body;
using test::HttpResponse;
using test::TempTree;

const std::string kOld = "0cc175b9c0f1b6a831c399e269772661=Old\r\n92eb5ffee6ae2fec3ad71c777531578f=Older\r\n";
const std::string kNew = "92eb5ffee6ae2fec3ad71c777531578f=New\r\n";

// cmdUpdate, pgbUpd and lblUpd, recording every setting in one sequence.
class PanelRecorder final : public Switch, public ValueControl, public Caption {
public:
    void SetEnabled(bool enabled) override { events.emplace_back(enabled ? "enabled" : "disabled"); }
    void SetValue(int value) override { events.emplace_back(std::to_string(value)); }
    void SetCaption(std::string_view text) override { events.emplace_back("\"" + std::string(text) + "\""); }

    std::vector<std::string> events;
};

std::vector<std::string> ClickSequence(const std::string& outcome)
{
    std::vector<std::string> events = {"disabled", "0"};
    for (int value = 0; value <= 500; ++value)
        events.emplace_back(std::to_string(value));
    events.emplace_back("\"Downloading update file\"");
    for (int value = 501; value <= 1000; ++value)
        events.emplace_back(std::to_string(value));
    events.emplace_back("\"" + outcome + "\"");
    events.emplace_back("enabled");
    return events;
}

class UpdateCommandTest : public test::UpdateFixture {
protected:
    UpdateCommandTest() { WriteOld(kOld); }

    PanelRecorder panel_;
    UpdateCommand MakeCommand(std::chrono::milliseconds timeout)
    {
        return UpdateCommand(
            {panel_, panel_, panel_}, server_.Url(), DestinationText(), {.timeout = timeout, .maxBytes = 1 << 20});
    }

    UpdateCommand command_ = MakeCommand(30s);
};

TEST_F(UpdateCommandTest, SuccessfulDownload)
{
    server_.Respond(Body(kNew));
    command_.Click();
    EXPECT_EQ(panel_.events, ClickSequence("Download succesful"));
    EXPECT_EQ(TempTree::read(Destination()), kNew);
    EXPECT_FALSE(command_.Busy());
}

TEST_F(UpdateCommandTest, FailedDownloadsThenASuccessfulOne)
{
    UpdateCommand impatient = MakeCommand(200ms);
    server_.NeverAnswer();
    impatient.Click();
    EXPECT_EQ(panel_.events, ClickSequence("Download failed"));
    EXPECT_EQ(impatient.LastResult().status, DownloadStatus::TimedOut);
    EXPECT_EQ(TempTree::read(Destination()), kOld);

    // A final redirect carries a well-formed body that must not be installed.
    HttpResponse moved = Body(kNew);
    moved.status = 302;
    moved.reason = "Found";
    for (const HttpResponse& failing : {test::HtmlError(404, "Not Found"), Body(""), moved}) {
        server_.Respond(failing);
        panel_.events.clear();
        command_.Click();
        EXPECT_EQ(panel_.events, ClickSequence("Download failed"));
        EXPECT_EQ(TempTree::read(Destination()), kOld);
        EXPECT_NE(command_.LastResult().status, DownloadStatus::Ok);
    }
    server_.Respond(Body(kNew));
    panel_.events.clear();
    command_.Click();
    EXPECT_EQ(panel_.events, ClickSequence("Download succesful"));
    EXPECT_EQ(TempTree::read(Destination()), kNew);
}

TEST_F(UpdateCommandTest, ClickWhileDownloadingDoesNothing)
{
    server_.Respond(Body(kNew));
    int requests = 0;
    server_.onRequest = [&] {
        ++requests;
        EXPECT_TRUE(command_.Busy());
        EXPECT_EQ(panel_.events.front(), "disabled");
        EXPECT_EQ(panel_.events.back(), "\"Downloading update file\"");
        command_.Click();
    };
    command_.Click();
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(panel_.events, ClickSequence("Download succesful"));
    EXPECT_EQ(TempTree::read(Destination()), kNew);
}

TEST_F(UpdateCommandTest, EventsSeeOnlyTheOldOrTheNewFile)
{
    // Large enough to arrive in several pieces, so events run in between.
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body += "92eb5ffee6ae2fec3ad71c777531578f=Sig." + std::to_string(i) + "\r\n";
    server_.Respond(Body(body));
    int looks = 0;
    int unexpected = 0;
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, &watcher, [&] {
        ++looks;
        const std::string now = TempTree::read(Destination());
        if (now != kOld && now != body)
            ++unexpected;
    });
    watcher.start();
    command_.Click();
    watcher.stop();
    EXPECT_GT(looks, 0);
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(TempTree::read(Destination()), body);
}

TEST_F(UpdateCommandTest, ClickDuringAScanRunsInsideTheWalk)
{
    // "a" and "b" match the old list; the new one lacks "a".
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        tree_.file(std::string("scan/") + name, name);
    test::MemoryScan scan;
    LoadSignatures(scan.signatures, Destination());
    std::vector<std::uint64_t> countedAtYield;
    scan.onNext = [&] {
        countedAtYield.push_back(scan.examined.size());
        QCoreApplication::processEvents();
    };
    std::uint64_t countedAtClick = 0;
    server_.onRequest = [&] { countedAtClick = scan.examined.size(); };
    server_.Respond(Body(kNew));
    QTimer::singleShot(0, &server_, [&] { command_.Click(); });

    scan.Scan(tree_.path("scan"));

    EXPECT_EQ(panel_.events, ClickSequence("Download succesful"));
    EXPECT_EQ(TempTree::read(Destination()), kNew);
    EXPECT_EQ(countedAtClick, countedAtYield.front());
    EXPECT_EQ(scan.examined.size(), 6u);
    // The list in memory is the old one until the next reload.
    std::vector<std::string> hits = scan.HitPaths();
    std::sort(hits.begin(), hits.end());
    EXPECT_EQ(hits, (std::vector<std::string>{tree_.path("scan/a"), tree_.path("scan/b")}));
}

}  // namespace
}  // namespace qirn
