// The guard's parts that need no fanotify: settings, records, answers and
// their deadline, and judging a descriptor.

#include "engine/digest/Digest.h"
#include "guard/FileJudge.h"
#include "guard/GuardRecord.h"
#include "guard/GuardSettings.h"
#include "guard/PendingAnswers.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <thread>
#include <unistd.h>

namespace qirn {
namespace {

using namespace std::chrono_literals;

TEST(GuardSettingsTest, ReadsEveryKey)
{
    GuardSettings settings;
    ASSERT_EQ(ParseGuardSettings("[guard]\n# comment\n marks = /usr \nmarks=filesystem:/home\r\nevents = open\n"
                                 "deadline = 50\nsignatures = /a.kvd\nsignatures = /b.txt\nquarantine = /q\n"
                                 "max_size = 100\nsettle = 7\nstatus = /run/s\nworkers = 3\n",
                  settings),
        std::nullopt);
    EXPECT_EQ(settings.marks, (std::vector<GuardMark>{{"/usr", false}, {"/home", true}}));
    EXPECT_TRUE(settings.openEvents);
    EXPECT_EQ(settings.deadline, 50ms);
    EXPECT_EQ(settings.signatureFiles, (std::vector<std::string>{"/a.kvd", "/b.txt"}));
    EXPECT_EQ(settings.quarantine, std::filesystem::path("/q"));
    EXPECT_EQ(settings.sizeLimit, 100);
    EXPECT_EQ(settings.settleNs, 7'000'000);
    EXPECT_EQ(settings.statusFile, "/run/s");
    EXPECT_EQ(settings.workers, 3U);

    GuardSettings defaults;
    ASSERT_EQ(ParseGuardSettings("marks = /\nsignatures = /s.kvd\n", defaults), std::nullopt);
    EXPECT_FALSE(defaults.openEvents);
    EXPECT_EQ(defaults.deadline, 200ms);
    EXPECT_EQ(defaults.quarantine, std::nullopt);
}

TEST(GuardSettingsTest, RejectsWhatItCannotUseAndKeepsTheOldSettings)
{
    const std::string good = "marks = /m\nsignatures = /s.kvd\n";
    const std::map<std::string, std::string> rows = {
        {"signatures = /s.kvd\n", "no marks"},
        {"marks = /m\n", "no signatures"},
        {good + "marks = relative\n", "line 3: marks"},
        {good + "events = write\n", "events"},
        {good + "deadline = 0\n", "deadline"},
        {good + "deadline = 60001\n", "deadline"},
        {good + "deadline = 5ms\n", "deadline"},
        {good + "max_size = -1\n", "max_size"},
        {good + "workers = 0\n", "workers"},
        {good + "quarantine = q\n", "quarantine"},
        {good + "colour = red\n", "unknown key"},
        {good + "just words\n", "line 3: no key"},
    };
    for (const auto& [text, reason] : rows) {
        GuardSettings settings;
        settings.workers = 9;
        const std::optional<std::string> error = ParseGuardSettings(text, settings);
        ASSERT_TRUE(error) << text;
        EXPECT_NE(error->find(reason), std::string::npos) << text << " -> " << *error;
        EXPECT_EQ(settings.workers, 9U) << text;
    }
}

TEST(GuardRecordTest, DenialCarriesEverythingAndNamesCannotForgeLines)
{
    FileDigests digests;
    digests.md5[0] = 0xab;
    digests.sha256 = Sha256Digest{};
    const std::vector<std::string> names = {"One", "Two\"x"};
    GuardRecord record;
    record.denied = true;
    record.reason = "listed";
    record.path = "/m/a\nb";
    record.pid = 42;
    record.executable = "/usr/bin/sh";
    record.digests = &digests;
    record.signatures = names;
    record.quarantineEntry = "E1";
    const std::string line = GuardRecordLine(record);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_NE(line.find(R"("verdict":"deny","reason":"listed","path":"/m/a\nb","pid":42,)"), std::string::npos);
    EXPECT_NE(line.find(R"("executable":"/usr/bin/sh","md5":"ab000000000000000000000000000000","sha256":")"),
        std::string::npos);
    EXPECT_NE(line.find(R"("signatures":["One","Two\"x"],"quarantine_entry":"E1"})"), std::string::npos);

    GuardRecord late;
    late.reason = "deadline";
    const std::string allow = GuardRecordLine(late);
    EXPECT_NE(allow.find(R"("verdict":"allow","reason":"deadline")"), std::string::npos);
    EXPECT_EQ(allow.find("md5"), std::string::npos);
}

TEST(GuardRecordTest, StatusTextGivesBackEachCount)
{
    GuardCounts counts;
    counts.denied = 3;
    counts.cached = 12;
    counts.overflows = 1;
    const std::string text = GuardStatusText(counts, 77);
    EXPECT_EQ(GuardStatusValue(text, "pid"), 77U);
    EXPECT_EQ(GuardStatusValue(text, "denied"), 3U);
    EXPECT_EQ(GuardStatusValue(text, "cached"), 12U);
    EXPECT_EQ(GuardStatusValue(text, "overflows"), 1U);
    EXPECT_EQ(GuardStatusValue(text, "read"), 0U);
    EXPECT_EQ(GuardStatusValue(text, "den"), std::nullopt);
}

class RecordingAnswerer final : public EventAnswerer {
public:
    void Answer(int fd, bool allow) override
    {
        const std::lock_guard lock(mutex_);
        answers.emplace_back(fd, allow);
    }
    void Close(int fd) override
    {
        const std::lock_guard lock(mutex_);
        closed.push_back(fd);
    }
    std::vector<std::pair<int, bool>> Answers()
    {
        const std::lock_guard lock(mutex_);
        return answers;
    }

    std::mutex mutex_;
    std::vector<std::pair<int, bool>> answers;
    std::vector<int> closed;
};

TEST(PendingAnswersTest, EachEventIsAnsweredOnceByVerdictOrDeadline)
{
    RecordingAnswerer answerer;
    std::vector<int> expired;
    {
        PendingAnswers pending(answerer, 150ms, [&](const PendingEvent& event) { expired.push_back(event.fd); });
        std::jthread deadlines([&](const std::stop_token& stop) { pending.RunDeadlines(stop); });
        const auto start = GuardClock::now();
        ASSERT_TRUE(pending.Add(10, 1, 0));
        ASSERT_TRUE(pending.Add(11, 1, 0));
        std::shared_ptr<PendingEvent> first = pending.Take({});
        ASSERT_EQ(first->fd, 10);
        EXPECT_TRUE(pending.Answer(*first, false));
        EXPECT_FALSE(pending.Answer(*first, true));
        // 11 is never taken: the deadline allows it, and only then.
        while (answerer.Answers().size() < 2 && GuardClock::now() - start < 5s)
            std::this_thread::sleep_for(5ms);
        EXPECT_GE(GuardClock::now() - start, 150ms);
        // A worker taking it late gets nothing to judge.
        ASSERT_TRUE(pending.Add(12, 1, 0));
        std::shared_ptr<PendingEvent> third = pending.Take({});
        EXPECT_EQ(third->fd, 12);
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(pending.Answer(*third, false));
    }
    EXPECT_EQ(answerer.answers, (std::vector<std::pair<int, bool>>{{10, false}, {11, true}, {12, true}}));
    EXPECT_EQ(expired, (std::vector<int>{11, 12}));
    std::sort(answerer.closed.begin(), answerer.closed.end());
    EXPECT_EQ(answerer.closed, (std::vector<int>{10, 11, 12}));
}

TEST(PendingAnswersTest, StoppingAllowsWhatWaitsAndAFloodIsAllowedAtOnce)
{
    RecordingAnswerer answerer;
    PendingAnswers pending(answerer, 60s, [](const PendingEvent&) {});
    for (int fd = 0; fd < static_cast<int>(kMostWaiting); ++fd)
        ASSERT_TRUE(pending.Add(fd, 1, 0));
    EXPECT_FALSE(pending.Add(-5, 1, 0));
    ASSERT_EQ(answerer.Answers().size(), 1U);
    EXPECT_EQ(answerer.answers[0], std::make_pair(-5, true));
    std::shared_ptr<PendingEvent> taken = pending.Take({});
    pending.AllowAll();
    EXPECT_EQ(answerer.Answers().size(), kMostWaiting + 1);
    EXPECT_FALSE(pending.Answer(*taken, false));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(pending.Take(stop.get_token()), nullptr);
}

class FileJudgeTest : public testing::Test {
protected:
    int Open(const std::filesystem::path& file, int flags = O_RDONLY)
    {
        const int fd = ::open(file.c_str(), flags | O_CLOEXEC);
        EXPECT_GE(fd, 0) << file;
        fds_.push_back(fd);
        return fd;
    }
    void TearDown() override
    {
        for (const int fd : fds_)
            ::close(fd);
    }

    test::TempTree tree_;
    VerdictCache cache_{0, 100};
    FileJudge judge_{1000, cache_};
    SignatureList signatures_;
    std::vector<int> fds_;
};

TEST_F(FileJudgeTest, ListedCleanTooLargeAndNotRegular)
{
    signatures_.Append(mdlMD5::DigestToHex(Md5().Compute(std::as_bytes(std::span("bad", 3)))), "Bad.Md5");
    Sha256Digest sha = Sha256().Compute(std::as_bytes(std::span("worse", 5)));
    signatures_.Append(mdlMD5::DigestToHex(sha), "Worse.Sha256");

    const Judgement bad = judge_.Judge(Open(tree_.file("bad", "bad")), signatures_);
    EXPECT_EQ(bad.kind, Judgement::Kind::Listed);
    EXPECT_EQ(bad.signatures, std::vector<std::string>{"Bad.Md5"});
    const Judgement worse = judge_.Judge(Open(tree_.file("worse", "worse")), signatures_);
    EXPECT_EQ(worse.kind, Judgement::Kind::Listed);
    EXPECT_EQ(worse.signatures, std::vector<std::string>{"Worse.Sha256"});
    EXPECT_EQ(judge_.Judge(Open(tree_.file("good", "good")), signatures_).kind, Judgement::Kind::Clean);
    EXPECT_EQ(judge_.Judge(Open(tree_.filled("edge", 1000)), signatures_).kind, Judgement::Kind::Clean);
    EXPECT_EQ(judge_.Judge(Open(tree_.filled("big", 1001)), signatures_).kind, Judgement::Kind::TooLarge);
    // Opening a FIFO for reading without a writer would block; its descriptor is only looked at.
    EXPECT_EQ(
        judge_.Judge(Open(tree_.fifo("fifo"), O_RDONLY | O_NONBLOCK), signatures_).kind, Judgement::Kind::NotRegular);
    EXPECT_EQ(judge_.Judge(Open(tree_.root()), signatures_).kind, Judgement::Kind::NotRegular);
    EXPECT_EQ(judge_.Judge(-1, signatures_).kind, Judgement::Kind::Unreadable);
    // The descriptor's offset is its owner's: the judge reads at offsets.
    const int fd = Open(tree_.file("offset", "bad"));
    ASSERT_EQ(::lseek(fd, 2, SEEK_SET), 2);
    EXPECT_EQ(judge_.Judge(fd, signatures_).kind, Judgement::Kind::Listed);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 2);
}

TEST_F(FileJudgeTest, SettledFileIsJudgedFromTheCacheUntilItChanges)
{
    signatures_.Append(mdlMD5::DigestToHex(Md5().Compute(std::as_bytes(std::span("bad", 3)))), "Bad");
    const std::filesystem::path file = tree_.file("f", "bad");
    // The cache trusts a stamp once it is older than the time resolution (50 ms).
    std::this_thread::sleep_for(120ms);
    const Judgement first = judge_.Judge(Open(file), signatures_);
    EXPECT_FALSE(first.cached);
    const Judgement again = judge_.Judge(Open(file), signatures_);
    EXPECT_TRUE(again.cached);
    EXPECT_EQ(again.kind, Judgement::Kind::Listed);

    // A reload that lists nothing of it applies to the kept digest.
    SignatureList other;
    other.Append(std::string(32, '0'), "Zero");
    EXPECT_EQ(judge_.Judge(Open(file), other).kind, Judgement::Kind::Clean);

    // Same size, same inode, other bytes: the change time moved.
    const int writer = Open(file, O_WRONLY);
    ASSERT_EQ(::pwrite(writer, "bae", 3, 0), 3);
    const Judgement changed = judge_.Judge(Open(file), signatures_);
    EXPECT_FALSE(changed.cached);
    EXPECT_EQ(changed.kind, Judgement::Kind::Clean);

    // A file whose length the system does not tell (procfs says 0) is never kept.
    const int proc = Open("/proc/self/stat");
    std::this_thread::sleep_for(120ms);
    EXPECT_FALSE(judge_.Judge(proc, signatures_).cached);
    EXPECT_FALSE(judge_.Judge(proc, signatures_).cached);

    // A file changed too recently is read every time.
    const std::filesystem::path fresh = tree_.file("fresh", "bad");
    EXPECT_FALSE(judge_.Judge(Open(fresh), signatures_).cached);
    EXPECT_FALSE(judge_.Judge(Open(fresh), signatures_).cached);
}

}  // namespace
}  // namespace qirn
