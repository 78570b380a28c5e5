#include "guard/GuardSettings.h"

#include "engine/text/WholeNumber.h"

#include <fstream>
#include <sstream>

namespace qirn {

namespace {

std::string_view Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<std::string> Apply(std::string_view key, std::string_view value, GuardSettings& settings)
{
    if (key == "marks") {
        constexpr std::string_view kFileSystem = "filesystem:";
        const bool whole = value.starts_with(kFileSystem);
        const std::string path(whole ? value.substr(kFileSystem.size()) : value);
        if (path.empty() || path.front() != '/')
            return "a mark is an absolute path";
        settings.marks.push_back({path, whole});
    } else if (key == "events") {
        if (value != "exec" && value != "open")
            return "events is exec or open";
        settings.openEvents = value == "open";
    } else if (key == "deadline") {
        std::int64_t ms = 0;
        if (!WholeNumberWithin<std::int64_t>(value, 1, 60'000, ms))
            return "deadline is a number of milliseconds from 1 to 60000";
        settings.deadline = std::chrono::milliseconds(ms);
    } else if (key == "signatures") {
        settings.signatureFiles.emplace_back(value);
    } else if (key == "quarantine") {
        if (value.empty() || value.front() != '/')
            return "quarantine is an absolute path";
        settings.quarantine = std::filesystem::path(value);
    } else if (key == "max_size") {
        if (!WholeNumberWithin<std::int32_t>(value, 0, INT32_MAX, settings.sizeLimit))
            return "max_size is a number of bytes";
    } else if (key == "settle") {
        std::int64_t ms = 0;
        if (!WholeNumberWithin<std::int64_t>(value, 0, 86'400'000, ms))
            return "settle is a number of milliseconds";
        settings.settleNs = ms * 1'000'000;
    } else if (key == "status") {
        if (value.empty() || value.front() != '/')
            return "status is an absolute path";
        settings.statusFile = std::string(value);
    } else if (key == "workers") {
        if (!WholeNumberWithin<unsigned>(value, 1, 64, settings.workers))
            return "workers is a number from 1 to 64";
    } else {
        return "unknown key";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseGuardSettings(std::string_view text, GuardSettings& settings)
{
    GuardSettings read;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[')
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view key = Trimmed(line.substr(0, equals));
        if (equals == std::string_view::npos || key.empty())
            return "line " + std::to_string(lineNumber) + ": no key = value";
        if (std::optional<std::string> error = Apply(key, Trimmed(line.substr(equals + 1)), read))
            return "line " + std::to_string(lineNumber) + ": " + std::string(key) + ": " + *error;
    }
    if (read.marks.empty())
        return "no marks: name at least one mount or file system to guard";
    if (read.signatureFiles.empty())
        return "no signatures file";
    settings = std::move(read);
    return std::nullopt;
}

std::optional<std::string> LoadGuardSettings(const std::filesystem::path& file, GuardSettings& settings)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return file.string() + ": cannot be read";
    std::ostringstream text;
    text << in.rdbuf();
    if (std::optional<std::string> error = ParseGuardSettings(text.str(), settings))
        return file.string() + ": " + *error;
    return std::nullopt;
}

}  // namespace qirn
