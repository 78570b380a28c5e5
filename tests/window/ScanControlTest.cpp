// The Scan and Stop commands against recording display elements: the step
// orders, the report block and the failure path, without any window.

#include "window/ScanControl.h"
#include "engine/Failure.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"
#include "tests/window/WindowDoubles.h"
#include "window/SignatureReloader.h"
#include "window/StopScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace qirn {
namespace {

using TestFolder = test::TempTree;
using test::kEicar;
using test::kEicarMd5;
using test::kHelloMd5;

// Every write to a control becomes one line of a shared log.
class Log {
public:
    void Add(std::string line)
    {
        // Progress steps are folded into their first and last value.
        if (line.starts_with("pgbStatus=") && !lines_.empty() && lines_.back().starts_with("pgbStatus=")) {
            const std::size_t dots = lines_.back().find("..");
            lines_.back() =
                (dots == std::string::npos ? lines_.back() : lines_.back().substr(0, dots)) + ".." + line.substr(10);
            return;
        }
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> Take() { return std::exchange(lines_, {}); }

private:
    std::vector<std::string> lines_;
};

class LoggedSwitch final : public Switch {
public:
    LoggedSwitch(Log& log, std::string name) : log_(log), name_(std::move(name)) { }
    void SetEnabled(bool on) override
    {
        enabled = on;
        log_.Add(name_ + (on ? " on" : " off"));
    }
    bool enabled = true;

private:
    Log& log_;
    std::string name_;
};

class LoggedValue final : public ValueControl {
public:
    LoggedValue(Log& log, std::string name) : log_(log), name_(std::move(name)) { }
    void SetValue(int newValue) override
    {
        value = newValue;
        log_.Add(name_ + "=" + std::to_string(newValue));
    }
    int value = 0;

private:
    Log& log_;
    std::string name_;
};

class LoggedCaption final : public Caption {
public:
    LoggedCaption(Log& log, std::string name, bool logged = true) : log_(log), name_(std::move(name)), logged_(logged)
    {
    }
    void SetCaption(std::string_view text) override
    {
        caption = text;
        if (logged_)
            log_.Add(name_ + "=" + caption);
    }
    std::string caption;

private:
    Log& log_;
    std::string name_;
    bool logged_;
};

using Report = test::MemoryReport;
using Hits = test::MemoryInfections;

class Pump final : public EventPump {
public:
    void ProcessEvents() override
    {
        ++passes;
        if (onPass)
            onPass(passes);
    }
    int passes = 0;
    std::function<void(int)> onPass;
};

class Loader final : public SignatureSource {
public:
    Loader(Log& log, SignatureList& list, std::filesystem::path file) : log_(log), list_(list), file_(std::move(file))
    {
    }
    void Load() override
    {
        log_.Add("LoadSignatures");
        problem_.clear();
        try {
            LoadSignatures(list_, file_);
        } catch (const Failure& failure) {
            problem_ = SignatureLoadProblem(failure, file_);
            throw;
        }
    }
    std::string Problem() const override { return problem_; }

private:
    Log& log_;
    SignatureList& list_;
    std::filesystem::path file_;
    std::string problem_;
};

class ScanControlTest : public testing::Test {
protected:
    ScanControlTest()
    {
        folder.file("app/sa.kvd", std::string(kEicarMd5) + "=EICAR\r\n" + std::string(kHelloMd5) + "=Hello\r\n");
    }

    void Clear() { log.Take(); }

    TestFolder folder;
    Log log;
    LoggedSwitch txtRep{log, "txtRep"}, cmdSave{log, "cmdSave"}, cmdCl{log, "cmdCl"}, tmrEl{log, "tmrEl"},
        cmdScan{log, "cmdScan"}, cmdStop{log, "cmdStop"}, lblBrowse{log, "lblBrowse"};
    LoggedValue chkChg{log, "chkChg"}, pgbStatus{log, "pgbStatus"};
    LoggedCaption lblStrt{log, "lblStrt"}, lblEl{log, "lblEl"}, lblFin{log, "lblFin"}, lblCur{log, "lblCur"},
        lblFnd{log, "lblFnd"}, lblScnd{log, "lblScnd"}, lblScanNote{log, "lblScanNote"};
    test::FixedClock clock{std::int64_t{10} * 3600};
    Report report;
    Hits hits;
    Pump pump;
    SignatureList signatures;
    Loader loader{log, signatures, folder.root() / "app/sa.kvd"};
    ScanCounter counter{lblScnd};
    ScanControl control{ScanControls{txtRep, cmdSave, cmdCl, chkChg, lblStrt, lblEl, lblFin, lblCur, lblFnd, tmrEl,
                            cmdScan, cmdStop, lblBrowse, pgbStatus, lblScanNote},
        ScanElements{signatures, hits, report, counter, lblCur, pump}, loader, clock};
};

// What each control shows after a run of steps: its last write.
std::map<std::string, std::string> StatesAfter(std::span<const std::string> steps)
{
    std::map<std::string, std::string> states;
    for (const std::string& step : steps) {
        const std::size_t at = step.find_first_of(" =");
        if (at != std::string::npos)
            states[step.substr(0, at)] = step.substr(at + 1);
    }
    return states;
}

// The controls of a window that scans, and of one that is idle again.
const std::map<std::string, std::string> kScanning = {{"txtRep", "off"}, {"cmdSave", "off"}, {"cmdCl", "off"},
    {"chkChg", "2"}, {"lblStrt", "10:00:00"}, {"lblEl", "00:00:00"}, {"tmrEl", "on"}, {"cmdScan", "off"},
    {"cmdStop", "on"}, {"lblBrowse", "off"}, {"lblFin", "Not available"}, {"lblScnd", "Not available"},
    {"lblCur", "Not available"}, {"lblScanNote", ""}, {"pgbStatus", "1..500"}};

std::map<std::string, std::string> Idle(const std::string& finish)
{
    return {{"lblFin", finish}, {"tmrEl", "off"}, {"cmdScan", "on"}, {"cmdStop", "off"}, {"lblCur", "Finished"},
        {"lblBrowse", "on"}, {"txtRep", "on"}, {"cmdSave", "on"}, {"cmdCl", "on"}, {"chkChg", "0"},
        {"pgbStatus", "501..1000"}};
}

// Whether states shows every control of expected as expected has it.
bool Shows(const std::map<std::string, std::string>& states, const std::map<std::string, std::string>& expected)
{
    return std::all_of(expected.begin(), expected.end(), [&](const auto& control) {
        const auto found = states.find(control.first);
        return found != states.end() && found->second == control.second;
    });
}

// Every control is set once; the signatures load once Scan is disabled, and
// the progress bar moves last.
TEST_F(ScanControlTest, BeginAndEndSetEachControlOnce)
{
    control.BeginScanUi();
    const std::vector<std::string> begun = log.Take();
    EXPECT_EQ(StatesAfter(begun), kScanning);
    ASSERT_EQ(begun.size(), kScanning.size() + 1);
    EXPECT_EQ(begun[begun.size() - 2], "LoadSignatures");
    EXPECT_EQ(begun.back(), "pgbStatus=1..500");

    clock.seconds += 75;
    control.EndScanUi();
    const std::vector<std::string> ended = log.Take();
    EXPECT_EQ(StatesAfter(ended), Idle("10:01:15"));
    EXPECT_EQ(ended.size(), Idle("10:01:15").size());
    EXPECT_EQ(ended.back(), "pgbStatus=501..1000");
}

TEST_F(ScanControlTest, ScanOfATreeWritesOneReportBlock)
{
    folder.file("tree/a.com", kEicar);
    folder.file("tree/sub/hello.txt", "hello");
    folder.file("tree/sub/other.txt", "other");
    report.text = "earlier";

    control.Scan(folder.path("tree"));

    EXPECT_EQ(report.text,
        "earlier\r\nA scan was started at : 12/7/26 10:00:00"
        "\r\nFile a.com was detected as EICAR"
        "\r\nFile hello.txt was detected as Hello"
        "\r\nA scan was finished at : 12/7/26 10:00:00\r\n");
    ASSERT_EQ(hits.hits.size(), 2u);
    EXPECT_EQ(hits.hits[1].path, folder.root() / "tree/sub/hello.txt");
    EXPECT_EQ(counter.Total(), 3u);
    EXPECT_EQ(lblScnd.caption, "3");
    EXPECT_EQ(mdlFindFiles::StopScan, 0);
    const std::vector<std::string> steps = log.Take();
    const auto begun = std::find(steps.begin(), steps.end(), "pgbStatus=1..500");
    ASSERT_NE(begun, steps.end());
    EXPECT_EQ(StatesAfter({steps.begin(), begun + 1}), kScanning);
    EXPECT_TRUE(Shows(StatesAfter(steps), Idle("10:00:00")));
}

TEST_F(ScanControlTest, TwoScansAreSeparatedByOneEmptyLineAndHitsAccumulate)
{
    folder.file("tree/a.com", kEicar);
    control.Scan(folder.path("tree"));
    control.Scan(folder.path("tree"));
    const std::string block = "\r\nA scan was started at : 12/7/26 10:00:00\r\nFile a.com was detected as EICAR"
                              "\r\nA scan was finished at : 12/7/26 10:00:00\r\n";
    EXPECT_EQ(report.text, block + block);
    EXPECT_EQ(hits.hits.size(), 2u);
}

TEST_F(ScanControlTest, EmptyFolderPathGivesStartLineThenFinishLine)
{
    control.Scan("");
    EXPECT_EQ(
        report.text, "\r\nA scan was started at : 12/7/26 10:00:00\r\nA scan was finished at : 12/7/26 10:00:00\r\n");
    EXPECT_EQ(pump.passes, 0);
}

TEST_F(ScanControlTest, RejectedSignatureFileAbandonsTheScanBeforeTheWalk)
{
    folder.file("tree/a.com", kEicar);
    std::filesystem::remove(folder.root() / "app/sa.kvd");

    control.Scan(folder.path("tree"));

    // The report has only the finish line; the reason is on the panel.
    EXPECT_EQ(report.text, "\r\nA scan was finished at : 12/7/26 10:00:00\r\n");
    EXPECT_EQ(lblScanNote.caption, "No signature loaded: sa.kvd is missing");
    EXPECT_EQ(pump.passes, 0);
    std::vector<std::string> steps = log.Take();
    std::erase(steps, "lblScanNote=" + lblScanNote.caption);
    // The controls were switched to scanning, then back, with no progress to 500.
    const auto loaded = std::find(steps.begin(), steps.end(), "LoadSignatures");
    ASSERT_NE(loaded, steps.end());
    std::map<std::string, std::string> scanning = kScanning;
    scanning.erase("pgbStatus");
    EXPECT_EQ(StatesAfter({steps.begin(), loaded}), scanning);
    EXPECT_EQ(StatesAfter({loaded + 1, steps.end()}), Idle("10:00:00"));
    EXPECT_TRUE(cmdScan.enabled);
    EXPECT_FALSE(cmdStop.enabled);
}

TEST_F(ScanControlTest, StopEndsTheUiAtOnceAndAgainWhenTheWalkReturns)
{
    for (const char* name : {"one", "two", "three"})
        folder.file(std::string("tree/") + name, "hello");
    pump.onPass = [this](int pass) {
        if (pass == 1) {
            Clear();
            control.Stop();
        }
    };

    control.Scan(folder.path("tree"));

    EXPECT_EQ(pump.passes, 1);
    // The file whose turn it was is completed: counted and detected.
    EXPECT_EQ(counter.Total(), 1u);
    EXPECT_EQ(hits.hits.size(), 1u);
    EXPECT_EQ(mdlFindFiles::StopScan, -1);
    // The controls go idle at the Stop, the file is counted, and they go idle again.
    const std::vector<std::string> steps = log.Take();
    const auto counted = std::find(steps.begin(), steps.end(), "lblScnd=1");
    ASSERT_NE(counted, steps.end());
    EXPECT_EQ(StatesAfter({steps.begin(), counted}), Idle("10:00:00"));
    EXPECT_EQ(StatesAfter({counted + 1, steps.end()}), Idle("10:00:00"));
    EXPECT_EQ(steps.size(), 2 * Idle("10:00:00").size() + 1);
    EXPECT_TRUE(report.text.ends_with(" was detected as Hello\r\nA scan was finished at : 12/7/26 10:00:00\r\n"));
    mdlFindFiles::ClearStop();
}

TEST_F(ScanControlTest, ScanAfterAStopWalksEveryFile)
{
    for (const char* name : {"one", "two", "three"})
        folder.file(std::string("tree/") + name, "hello");
    pump.onPass = [this](int pass) {
        if (pass == 1)
            control.Stop();
    };
    control.Scan(folder.path("tree"));
    ASSERT_EQ(counter.Total(), 1u);

    // The stop asked of the first scan must not end the next one.
    pump.onPass = nullptr;
    control.Scan(folder.path("tree"));
    EXPECT_EQ(counter.Total(), 3u);
    EXPECT_EQ(hits.hits.size(), 4u);
    EXPECT_EQ(mdlFindFiles::StopScan, 0);
}

TEST(LeftOutTextTest, CountsOnlyWhatWasLeftOut)
{
    EXPECT_EQ(LeftOutText(0, 0, 83000), "");
    EXPECT_EQ(LeftOutText(1, 0, 83000), "Left out: 1 file over 83000 bytes");
    EXPECT_EQ(LeftOutText(2, 0, 5), "Left out: 2 files over 5 bytes");
    EXPECT_EQ(LeftOutText(0, 1, 83000), "Left out: 1 that could not be read");
    EXPECT_EQ(LeftOutText(3, 2, 83000), "Left out: 3 files over 83000 bytes, 2 that could not be read");
}

TEST_F(ScanControlTest, ElapsedTickShowsTimeSinceStartAndInfectionCount)
{
    control.BeginScanUi();
    clock.seconds += std::int64_t{25} * 3600;
    control.ElapsedTick(7);
    EXPECT_EQ(lblEl.caption, "01:00:00");
    EXPECT_EQ(lblFnd.caption, "7");
}

TEST(ClockText, RendersTimeOfDayAndDropsWholeDays)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "00:00:00"},
        {59, "00:00:59"},
        {3600 + 61, "01:01:01"},
        {86399, "23:59:59"},
        {86400, "00:00:00"},
        {25 * 3600, "01:00:00"},
        {-1, "23:59:59"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(ClockText(seconds), text) << seconds;
}

}  // namespace
}  // namespace qirn
