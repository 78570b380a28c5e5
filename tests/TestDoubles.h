#pragma once

// The doubles and sample contents the tests share: in-memory display
// elements for driving a scan without a window, a clock that stands still,
// and the standard antivirus test file.

#include "engine/Clock.h"
#include "engine/Digest.h"
#include "engine/Failure.h"
#include "engine/FindFiles.h"
#include "engine/Platform.h"
#include "engine/ScanElements.h"
#include "engine/SignatureList.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn::test {

// The standard antivirus test file and its MD5 digest.
inline constexpr std::string_view kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
inline constexpr std::string_view kEicarMd5 = "44d88612fea8a8f36de82e1278abb02f";
// MD5 and SHA-256 of "hello".
inline constexpr std::string_view kHelloMd5 = "5d41402abc4b2a76b9719d911017c592";
inline constexpr std::string_view kHelloSha256 = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

// The MD5 of content as the signature file writes it.
inline std::string DigestOf(std::string_view content)
{
    Md5 md5;
    return mdlMD5::DigestToHex(md5.Compute(std::as_bytes(std::span(content.data(), content.size()))));
}

// A clock that moves only when a test sets it.
class FixedClock final : public Clock {
public:
    explicit FixedClock(std::int64_t start) : seconds(start) { }
    std::int64_t LocalSeconds() override { return seconds; }
    std::string DateTimeText() override { return "12/7/26 " + ClockText(seconds); }
    std::int64_t seconds;
};

class MemoryCaption final : public Caption {
public:
    void SetCaption(std::string_view text) override
    {
        text_ = text;
        history_.emplace_back(text);
    }
    const std::string& text() const { return text_; }
    const std::vector<std::string>& history() const { return history_; }

private:
    std::string text_;
    std::vector<std::string> history_;
};

class HookedPump final : public EventPump {
public:
    void ProcessEvents() override
    {
        if (onYield)
            onYield();
    }
    std::function<void()> onYield;
};

class MemoryInfections final : public InfectionList {
public:
    void AddHit(Hit hit) override { hits.push_back(std::move(hit)); }
    std::vector<Hit> hits;
};

class MemoryReport final : public ReportText {
public:
    void Append(std::string_view more) override { text += more; }
    std::string text;
};

class MemoryProblems final : public ProblemLog {
public:
    void Unreadable(const std::string& path, const Failure& failure) override
    {
        paths.push_back(path);
        numbers.push_back(failure.number());
    }
    std::vector<std::string> paths;
    std::vector<int> numbers;
};

struct MemoryScan {
    SignatureList signatures;
    MemoryInfections infections;
    MemoryReport report;
    MemoryCaption scanned;
    ScanCounter counter{scanned};
    MemoryCaption current;
    HookedPump events;
    MemoryProblems problems;

    ScanElements elements() { return {signatures, infections, report, counter, current, events, &problems}; }

    void Scan(const std::string& folder)
    {
        mdlFindFiles::ClearStop();
        mdlFindFiles::FindFiles(folder, mdlFindFiles::kAllFiles, mdlFindFiles::kSizeLimit, elements());
    }

    std::vector<std::string> HitPaths() const
    {
        std::vector<std::string> paths;
        for (const Hit& hit : infections.hits)
            paths.push_back(TextFromPath(hit.path));
        return paths;
    }
};

}  // namespace qirn::test
