// qirn-guard as the system meets it: the program started on a tmpfs of the
// test's own (in the test's private mount namespace), programs run and files
// opened there by child processes, each under a time limit.

#include "engine/Failure.h"
#include "engine/digest/Digest.h"
#include "guard/GuardRecord.h"
#include "tests/TempTree.h"
#include "tests/guard/GuardNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/fanotify.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qirn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kChildLimit = 20s;
constexpr int kExecFailed = 120;  // a child's exit status is this plus errno when its exec failed

std::string Read(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The exit status of a child, killed when it outlives limit (-1 then).
int WaitChild(pid_t child, Clock::duration limit = kChildLimit)
{
    const auto end = Clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > end) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(2ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t StartProgram(const std::filesystem::path& program)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(kExecFailed + errno);
    }
    return child;
}

// 0 when it ran, kExecFailed + errno when its exec failed.
int RunProgram(const std::filesystem::path& program)
{
    return WaitChild(StartProgram(program));
}

// 0 when a child could open the file for reading, else errno.
int OpenInChild(const std::filesystem::path& file)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        _exit(fd < 0 ? errno : 0);
    }
    return WaitChild(child);
}

class GuardFanotifyTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test::PrivateMountNamespaceProblem().empty())
            GTEST_SKIP() << "fanotify permission events not tried: " << test::PrivateMountNamespaceProblem();
        const int group = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE | O_CLOEXEC);
        if (group < 0)
            GTEST_SKIP() << "fanotify permission events unavailable: fanotify_init: " << ErrorText(errno);
        ::close(group);
        marked_ = tree_.folder("marked");
        ASSERT_EQ(::mount("qirn-guard-test", marked_.c_str(), "tmpfs", 0, "size=64m"), 0) << ErrorText(errno);
        mounted_ = true;
        // A copy of true that no other file shares, and one more with a byte added.
        const std::string program = Read("/usr/bin/true");
        ASSERT_FALSE(program.empty());
        clean_ = Executable("clean", program);
        listed_ = Executable("listed", program + "listed");
        signatures_ = tree_.file("sa.kvd", Md5Of(program + "listed") + "=Test.Listed.Program\r\n");
    }

    void TearDown() override
    {
        StopGuard();
        if (mounted_)
            ::umount2(marked_.c_str(), MNT_DETACH);
    }

    std::filesystem::path Executable(std::string_view name, const std::string& content)
    {
        std::filesystem::path file = marked_ / name;
        std::ofstream(file, std::ios::binary) << content;
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        return file;
    }

    static std::string Md5Of(const std::string& bytes)
    {
        return mdlMD5::DigestToHex(Md5().Compute(std::as_bytes(std::span(bytes))));
    }

    void StartGuard(const std::string& moreSettings = {})
    {
        const std::filesystem::path config = tree_.file("guard.ini",
            "[guard]\nmarks = " + marked_.string() + "\nsignatures = " + signatures_.string() +
                "\nstatus = " + tree_.path("status") + "\nsettle = 0\n" + moreSettings);
        const std::string output = tree_.path("records.jsonl");
        guard_ = ::fork();
        if (guard_ == 0) {
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::execl(QIRN_GUARD_PROGRAM, QIRN_GUARD_PROGRAM, "--config", config.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // On duty once its first status is written.
        const auto end = Clock::now() + 10s;
        while (!std::filesystem::exists(tree_.root() / "status") && Clock::now() < end) {
            int status = 0;
            ASSERT_EQ(::waitpid(guard_, &status, WNOHANG), 0) << "qirn-guard ended at its start";
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(std::filesystem::exists(tree_.root() / "status")) << "qirn-guard did not start";
    }

    // Its exit status; -1 when it had to be killed.
    int StopGuard()
    {
        if (guard_ <= 0)
            return 0;
        ::kill(guard_, SIGTERM);
        const int status = WaitChild(guard_, 10s);
        guard_ = 0;
        return status;
    }

    std::string Records() { return Read(tree_.root() / "records.jsonl"); }

    // A count from the status file, once the guard wrote one at least this high.
    std::uint64_t Count(std::string_view name, std::uint64_t atLeast)
    {
        std::uint64_t value = 0;
        const auto end = Clock::now() + 5s;
        do {
            value = GuardStatusValue(Read(tree_.root() / "status"), name).value_or(0);
            if (value >= atLeast)
                break;
            std::this_thread::sleep_for(50ms);
        } while (Clock::now() < end);
        return value;
    }

    test::TempTree tree_;
    std::filesystem::path marked_;
    bool mounted_ = false;
    std::filesystem::path clean_;
    std::filesystem::path listed_;
    std::filesystem::path signatures_;
    pid_t guard_ = 0;
};

TEST_F(GuardFanotifyTest, ListedProgramFailsWithEpermAndIsRecordedCleanOneRuns)
{
    StartGuard();
    std::this_thread::sleep_for(100ms);  // settled: the second verdicts come from the cache
    EXPECT_EQ(RunProgram(clean_), 0);
    EXPECT_EQ(RunProgram(listed_), kExecFailed + EPERM);
    EXPECT_EQ(RunProgram(clean_), 0);
    EXPECT_EQ(RunProgram(listed_), kExecFailed + EPERM);
    // Exec events only: reading it is not judged.
    EXPECT_EQ(OpenInChild(listed_), 0);
    EXPECT_EQ(StopGuard(), 0);
    EXPECT_EQ(GuardStatusValue(Read(tree_.root() / "status"), "cached"), 2U);
    const std::string records = Records();
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 2) << records;
    EXPECT_NE(
        records.find(R"("verdict":"deny","reason":"listed","path":")" + listed_.string() + '"'), std::string::npos)
        << records;
    EXPECT_NE(records.find(R"("signatures":["Test.Listed.Program"])"), std::string::npos) << records;
    EXPECT_NE(records.find(R"("md5":")" + Md5Of(Read(listed_)) + '"'), std::string::npos) << records;
    EXPECT_EQ(GuardStatusValue(Read(tree_.root() / "status"), "denied"), 2U);
}

TEST_F(GuardFanotifyTest, WithOpenEventsOpeningAListedDocumentOrLibraryFails)
{
    const std::filesystem::path document = tree_.file("marked/report.pdf", "%PDF listed");
    const std::filesystem::path library = tree_.file("marked/libx.so",
        "\x7f"
        "ELF listed");
    std::ofstream(signatures_, std::ios::app) << Md5Of("%PDF listed") << "=Test.Document\n"
                                              << Md5Of("\x7f"
                                                       "ELF listed")
                                              << "=Test.Library\n";
    StartGuard("events = open\n");
    EXPECT_EQ(OpenInChild(document), EPERM);
    EXPECT_EQ(OpenInChild(library), EPERM);
    EXPECT_EQ(OpenInChild(clean_), 0);
    EXPECT_EQ(RunProgram(clean_), 0);
    EXPECT_EQ(RunProgram(listed_), kExecFailed + EPERM);
    // The guard's own reads are not judged: it may reread its lists from here.
    EXPECT_EQ(StopGuard(), 0);
    const std::string records = Records();
    EXPECT_NE(records.find("Test.Document"), std::string::npos) << records;
    EXPECT_NE(records.find("Test.Library"), std::string::npos) << records;
}

TEST_F(GuardFanotifyTest, VerdictLaterThanTheDeadlineIsAnAllowAndRecorded)
{
    // 16 MB to read and digest cannot be judged within 1 ms: listed, yet let through.
    const std::string big(16 << 20, 'b');
    const std::filesystem::path file = tree_.file("marked/big.iso", big);
    std::ofstream(signatures_, std::ios::app) << Md5Of(big) << "=Test.Big\n";
    StartGuard("events = open\ndeadline = 1\nmax_size = 20000000\nworkers = 1\n");
    EXPECT_EQ(OpenInChild(file), 0);
    EXPECT_EQ(Count("deadline", 1), 1U);
    EXPECT_EQ(StopGuard(), 0);
    const std::string records = Records();
    EXPECT_NE(
        records.find(R"("verdict":"allow","reason":"deadline","path":")" + file.string() + '"'), std::string::npos)
        << records;
    EXPECT_EQ(records.find("deny"), std::string::npos) << records;
}

TEST_F(GuardFanotifyTest, FileChangedAfterItWasJudgedCleanIsJudgedAgain)
{
    StartGuard();
    std::this_thread::sleep_for(100ms);  // older than the time resolution: its verdict may be kept
    EXPECT_EQ(RunProgram(clean_), 0);
    EXPECT_EQ(RunProgram(clean_), 0);
    EXPECT_GE(Count("cached", 1), 1U);
    // Rewritten in place: same inode, listed bytes.
    std::ofstream(clean_, std::ios::binary | std::ios::trunc) << Read(listed_);
    EXPECT_EQ(RunProgram(clean_), kExecFailed + EPERM);
    EXPECT_EQ(Count("denied", 1), 1U);
}

TEST_F(GuardFanotifyTest, DeniedFileIsMovedToTheQuarantine)
{
    // With open events the guard's own read of the listed file, to copy it
    // off the tmpfs, would be refused if it judged itself.
    const std::string listed = Read(listed_);
    StartGuard("events = open\nquarantine = " + tree_.path("quarantine") + "\n");
    EXPECT_EQ(RunProgram(listed_), kExecFailed + EPERM);
    EXPECT_EQ(StopGuard(), 0);
    EXPECT_FALSE(std::filesystem::exists(listed_));
    const std::string records = Records();
    const std::size_t at = records.find(R"("quarantine_entry":")");
    ASSERT_NE(at, std::string::npos) << records;
    const std::size_t start = at + std::string_view(R"("quarantine_entry":")").size();
    const std::string entry = records.substr(start, records.find('"', start) - start);
    EXPECT_EQ(Read(tree_.root() / "quarantine" / entry), listed);
}

TEST_F(GuardFanotifyTest, SignatureReloadApplies)
{
    StartGuard();
    EXPECT_EQ(RunProgram(clean_), 0);
    std::ofstream(signatures_, std::ios::app) << Md5Of(Read(clean_)) << "=Test.Now.Listed\n";
    ::kill(guard_, SIGHUP);
    EXPECT_EQ(Count("reloads", 1), 1U);
    EXPECT_EQ(RunProgram(clean_), kExecFailed + EPERM);
}

TEST_F(GuardFanotifyTest, KillingTheGuardReleasesEveryWaiter)
{
    StartGuard();
    // Stopped, it answers nothing: every exec waits.
    ASSERT_EQ(::kill(guard_, SIGSTOP), 0);
    std::vector<pid_t> waiters;
    for (int i = 0; i < 8; ++i)
        waiters.push_back(StartProgram(i % 2 == 0 ? clean_ : listed_));
    std::this_thread::sleep_for(300ms);
    for (const pid_t waiter : waiters) {
        int status = 0;
        EXPECT_EQ(::waitpid(waiter, &status, WNOHANG), 0) << "an exec went through while the guard was stopped";
    }
    ASSERT_EQ(::kill(guard_, SIGKILL), 0);
    WaitChild(guard_, 10s);
    guard_ = 0;
    // The kernel allows what the closed group never answered, listed or not.
    for (const pid_t waiter : waiters)
        EXPECT_EQ(WaitChild(waiter, 10s), 0);
}

// Each worker's worst wait, in microseconds, and what went wrong.
struct WorkerResult {
    std::int64_t worstOpenUs = 0;
    std::int64_t worstRunUs = 0;
    int refused = 0;
    int rounds = 0;
};

TEST_F(GuardFanotifyTest, EightWorkersOpeningAndRunningCleanFilesSeeNoRefusalNorStall)
{
    // 10 s by default; QIRN_GUARD_SOAK_SECONDS=60 for the long run.
    const char* soak = std::getenv("QIRN_GUARD_SOAK_SECONDS");  // NOLINT(concurrency-mt-unsafe)
    const auto length = std::chrono::seconds(soak != nullptr ? std::atoi(soak) : 10);
    constexpr int kWorkers = 8;
    std::vector<std::filesystem::path> programs;
    for (int i = 0; i < kWorkers; ++i)
        programs.push_back(Executable("clean" + std::to_string(i), Read(clean_) + std::to_string(i)));
    StartGuard("events = open\n");
    void* shared =
        ::mmap(nullptr, sizeof(WorkerResult) * kWorkers, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* results = static_cast<WorkerResult*>(shared);
    std::vector<pid_t> workers;
    for (int i = 0; i < kWorkers; ++i) {
        const pid_t worker = ::fork();
        if (worker == 0) {
            WorkerResult& mine = results[i];
            const auto end = Clock::now() + length;
            for (int round = 0; Clock::now() < end; ++round) {
                const std::filesystem::path& program = programs[static_cast<std::size_t>(round + i) % kWorkers];
                const auto openStart = Clock::now();
                const int fd = ::open(program.c_str(), O_RDONLY);
                const auto opened = Clock::now() - openStart;
                mine.refused += fd < 0 ? 1 : 0;
                ::close(fd);
                const auto runStart = Clock::now();
                mine.refused += RunProgram(program) != 0 ? 1 : 0;
                const auto ran = Clock::now() - runStart;
                mine.worstOpenUs = std::max<std::int64_t>(
                    mine.worstOpenUs, std::chrono::duration_cast<std::chrono::microseconds>(opened).count());
                mine.worstRunUs = std::max<std::int64_t>(
                    mine.worstRunUs, std::chrono::duration_cast<std::chrono::microseconds>(ran).count());
                mine.rounds = round + 1;
            }
            _exit(0);
        }
        workers.push_back(worker);
    }
    for (const pid_t worker : workers)
        EXPECT_EQ(WaitChild(worker, length + 30s), 0);
    // The deadline is 200 ms; the rest covers a busy machine's scheduling,
    // and for a run its fork, exec and wait besides. An event left
    // unanswered would hold its worker until the test gives up on it.
    constexpr std::int64_t kStallUs = 200'000 + 300'000;
    constexpr std::int64_t kRunStallUs = 200'000 + 1'000'000;
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_EQ(results[i].refused, 0) << "worker " << i;
        EXPECT_GT(results[i].rounds, 0) << "worker " << i;
        EXPECT_LT(results[i].worstOpenUs, kStallUs) << "worker " << i;
        EXPECT_LT(results[i].worstRunUs, kRunStallUs) << "worker " << i;
        std::printf("worker %d: %d rounds, worst open %lld us, worst run %lld us\n", i, results[i].rounds,
            static_cast<long long>(results[i].worstOpenUs), static_cast<long long>(results[i].worstRunUs));
    }
    ::munmap(shared, sizeof(WorkerResult) * kWorkers);
    EXPECT_EQ(StopGuard(), 0);
    const std::string status = Read(tree_.root() / "status");
    EXPECT_EQ(GuardStatusValue(status, "denied"), 0U);
    std::printf("%s", status.c_str());
}

}  // namespace
}  // namespace qirn
