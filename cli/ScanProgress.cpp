#include "cli/ScanProgress.h"

#include "cli/ScanOutput.h"
#include "engine/platform/Console.h"

#include <string>

namespace qirn {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string SizeText(std::uint64_t bytes)
{
    const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    auto value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

// Characters of UTF-8 text, counting a stray byte as one.
std::size_t Width(std::string_view text)
{
    std::size_t width = 0;
    for (const char c : text)
        width += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
    return width;
}

// The last columns characters of text.
std::string_view Tail(std::string_view text, std::size_t columns)
{
    std::size_t width = 0;
    std::size_t start = text.size();
    while (start > 0) {
        const bool lead = (static_cast<unsigned char>(text[start - 1]) & 0xc0) != 0x80;
        if (lead && width == columns)
            break;
        --start;
        width += lead ? 1 : 0;
    }
    return text.substr(start);
}

}  // namespace

ScanProgress::ScanProgress(std::FILE* terminal, bool shown)
    : terminal_(terminal), shown_(shown), started_(std::chrono::steady_clock::now()), nextDraw_(started_)
{
}

void ScanProgress::Erase()
{
    if (!drawn_)
        return;
    std::fputs("\r\x1b[K", terminal_);
    std::fflush(terminal_);
    drawn_ = false;
}

void ScanProgress::Draw(std::string_view folderPath, std::chrono::steady_clock::time_point now)
{
    nextDraw_ = now + kRedraw;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    char head[96];
    std::snprintf(head, sizeof head, "%llu files, %s, %.0f files/s  ", static_cast<unsigned long long>(files_),
        SizeText(bytes_).c_str(), seconds > 0 ? static_cast<double>(files_) / seconds : 0.0);
    const std::string folder = EscapeForText(folderPath);
    const unsigned columns = TerminalColumns(terminal_);
    // The last column stays free, so the line never wraps.
    const std::size_t room = columns > 0 ? columns - 1 : 79;
    std::string line = "\r\x1b[K";
    const std::size_t headWidth = std::string_view(head).size();
    if (headWidth >= room) {
        line.append(head, room);
    } else {
        line += head;
        const std::size_t left = room - headWidth;
        line += Width(folder) <= left ? std::string_view(folder) : Tail(folder, left);
    }
    std::fputs(line.c_str(), terminal_);
    std::fflush(terminal_);
    drawn_ = true;
}

}  // namespace qirn
