#pragma once

// In-memory display elements for driving a scan without a window.

#include "engine/Failure.h"
#include "engine/FindFiles.h"
#include "engine/Platform.h"
#include "engine/ScanElements.h"
#include "engine/SignatureList.h"

#include <functional>
#include <string>
#include <vector>

namespace qirn::test {

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
