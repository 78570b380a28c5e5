#pragma once

// The one-line progress display of qirn-scan on a terminal.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace qirn {

class ScanProgress {
public:
    // Draws nothing unless shown.
    ScanProgress(std::FILE* terminal, bool shown);

    // After each examined file: at most 10 redraws a second.
    void File(std::string_view folderPath, std::uint64_t bytes)
    {
        if (!shown_)
            return;
        ++files_;
        bytes_ += bytes;
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextDraw_)
            Draw(folderPath, now);
    }
    // Before other text goes to the terminal; the line comes back at the next
    // redraw, so many messages still cost at most 10 redraws a second.
    void Erase();

private:
    void Draw(std::string_view folderPath, std::chrono::steady_clock::time_point now);

    std::FILE* terminal_;
    bool shown_;
    bool drawn_ = false;
    std::uint64_t files_ = 0;
    std::uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point nextDraw_;
};

}  // namespace qirn
