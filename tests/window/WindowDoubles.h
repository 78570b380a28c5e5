#pragma once

// In-memory display elements for the window's logic, and a clock that
// stands still.

#include "window/Clock.h"
#include "window/WindowScan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn::test {

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
    const std::string& Text() const { return text_; }
    const std::vector<std::string>& History() const { return history_; }

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

}  // namespace qirn::test
