#include "engine/signatures/Parse.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"

#include <span>

namespace qirn {

bool TextLines::Next(std::string_view& line)
{
    if (rest_.empty())
        return false;
    const std::size_t end = rest_.find('\n');
    line = rest_.substr(0, end);
    if (end == std::string_view::npos) {
        rest_ = {};
    } else {
        rest_.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
    }
    ++lineNumber_;
    return true;
}

bool SignatureLines::Next(std::string_view& line)
{
    std::string_view candidate;
    while (lines_.Next(candidate)) {
        if (candidate.empty() || (holdsNul_ && candidate.find('\0') != std::string_view::npos))
            continue;
        line = candidate;
        return true;
    }
    return false;
}

namespace {

std::string Prefixed(const std::string& where, const std::string& what)
{
    return where.empty() ? what : where + ": " + what;
}

}  // namespace

Failure NoSignatureLineFailure(const std::string& where)
{
    return {kNoSignatureLine, Prefixed(where, "no signature line")};
}

Failure MissingSeparatorFailure(const std::string& where, std::size_t lineNumber)
{
    return {kMissingSeparator, Prefixed(where, "line " + std::to_string(lineNumber) + " has no \"=\"")};
}

bool SplitSignatureLine(std::string_view line, char delimiter, SignatureFields& fields)
{
    const std::size_t first = line.find(delimiter);
    if (first == std::string_view::npos)
        return false;
    fields.digestText = line.substr(0, first);
    const std::string_view afterFirst = line.substr(first + 1);
    fields.name = afterFirst.substr(0, afterFirst.find(delimiter));
    return true;
}

}  // namespace qirn

namespace mdlParse {

std::string ReadWholeFile(const std::filesystem::path& path)
{
    qirn::InputFile file(path, qirn::Links::Followed);
    // Sized from the open file, but read to the end in case the file grew.
    std::string content(static_cast<std::size_t>(file.Size()) + 1, '\0');
    std::size_t total = 0;
    for (;;) {
        const auto rest = std::span(reinterpret_cast<std::byte*>(content.data()), content.size()).subspan(total);
        const std::size_t got = file.Read(rest);
        total += got;
        if (got < rest.size())
            break;
        content.resize(content.size() * 2);
    }
    content.resize(total);
    return content;
}

std::vector<std::vector<std::string>> ParseSignatureFile(const std::filesystem::path& path, std::string_view delimiter)
{
    const std::string text = ReadWholeFile(path);
    std::vector<std::vector<std::string>> result;
    qirn::SignatureLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        std::vector<std::string> fields;
        if (delimiter.empty()) {
            fields.emplace_back(line);
        } else {
            std::size_t start = 0;
            for (;;) {
                const std::size_t at = line.find(delimiter, start);
                fields.emplace_back(line.substr(start, at - start));
                if (at == std::string_view::npos)
                    break;
                start = at + delimiter.size();
            }
        }
        result.push_back(std::move(fields));
    }
    if (result.empty())
        throw qirn::NoSignatureLineFailure(qirn::TextFromPath(path));
    return result;
}

}  // namespace mdlParse
