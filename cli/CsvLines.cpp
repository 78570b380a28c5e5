// The rows of CSV exports: MalwareBazaar and others with hash columns, and MISP.

#include "cli/HashListLines.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qirn {

namespace {

std::string ColumnKey(std::string_view name)
{
    std::string key;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0)
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

bool IsComment(std::string_view line)
{
    return line.starts_with('#');
}

}  // namespace

bool SplitCsv(std::string_view line, std::vector<std::string_view>& fields, std::string& unquoted)
{
    fields.clear();
    unquoted.clear();
    unquoted.reserve(line.size());
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        const std::size_t begin = unquoted.size();
        if (at < line.size() && line[at] == '"') {
            ++at;
            for (;;) {
                if (at >= line.size())
                    return false;
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        unquoted += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                unquoted += line[at++];
            }
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            // Nothing but the next comma may follow a closing quote.
            if (at < line.size() && line[at] != ',')
                return false;
        } else {
            const std::size_t end = std::min(line.find(',', at), line.size());
            unquoted += Trimmed(line.substr(at, end - at));
            at = end;
        }
        spans.emplace_back(begin, unquoted.size() - begin);
        if (at >= line.size())
            break;
        ++at;  // the comma
    }
    for (const auto& [begin, length] : spans)
        fields.push_back(std::string_view(unquoted).substr(begin, length));
    return true;
}

bool CsvQuoteOpen(std::string_view text)
{
    std::size_t at = 0;
    for (;;) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
            ++at;
        if (at < text.size() && text[at] == '"') {
            for (++at;; ++at) {
                if (at >= text.size())
                    return true;
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        ++at;
                        continue;
                    }
                    break;
                }
            }
        }
        at = text.find(',', at);
        if (at == std::string_view::npos)
            return false;
        ++at;
    }
}

CsvColumns ReadCsvHeader(std::string_view line)
{
    while (line.starts_with('#') || line.starts_with(' '))
        line.remove_prefix(1);
    CsvColumns columns;
    std::vector<std::string_view> fields;
    std::string unquoted;
    if (!SplitCsv(line, fields, unquoted))
        return columns;
    static constexpr std::array<std::string_view, 8> kNameColumns = {
        "signature", "malware", "family", "name", "filename", "description", "comment", "info"};
    std::array<int, kNameColumns.size()> nameAt{};
    nameAt.fill(-1);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string key = ColumnKey(fields[i]);
        const int index = static_cast<int>(i);
        if (key == "md5" || key == "md5hash" || key == "md5sum")
            columns.md5 = index;
        else if (key == "sha256" || key == "sha256hash" || key == "sha256sum")
            columns.sha256 = index;
        else if (key == "type")
            columns.type = index;
        else if (key == "value")
            columns.value = index;
        else if (key == "size" || key == "filesize")
            columns.size = index;
        for (std::size_t n = 0; n < kNameColumns.size(); ++n) {
            if (key == kNameColumns[n] && nameAt[n] < 0)
                nameAt[n] = index;
        }
    }
    for (const int at : nameAt) {
        if (at >= 0)
            columns.names.push_back(at);
    }
    return columns;
}

std::optional<std::uint64_t> LineReader::CsvSize() const
{
    const auto column = static_cast<std::size_t>(columns_.size);
    return columns_.size >= 0 && column < fields_.size() ? SizeOf(fields_[column]) : std::nullopt;
}

LineOutcome LineReader::Csv(std::string_view line)
{
    LineOutcome outcome;
    if (!headerSeen_) {
        columns_ = ReadCsvHeader(line);
        headerSeen_ = columns_.md5 >= 0 || columns_.sha256 >= 0;
        return outcome;
    }
    if (IsComment(line))
        return outcome;
    if (!SplitCsv(line, fields_, unquoted_)) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "not a CSV row: a quote is not closed, or text follows a closing quote";
        return outcome;
    }
    std::string_view name;
    for (const int at : columns_.names) {
        const auto column = static_cast<std::size_t>(at);
        if (column < fields_.size() && !fields_[column].empty() && fields_[column] != "n/a") {
            name = fields_[static_cast<std::size_t>(at)];
            break;
        }
    }
    for (const int at : {columns_.sha256, columns_.md5}) {
        if (at < 0)
            continue;
        const auto column = static_cast<std::size_t>(at);
        const std::string_view digest = column < fields_.size() ? fields_[column] : "";
        if (!digest.empty() && !Accept(outcome, digest, name, outcome.count, CsvSize()))
            return outcome;
    }
    if (outcome.count == 0) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "no digest in the hash columns";
    }
    return outcome;
}

LineOutcome LineReader::Misp(std::string_view line)
{
    LineOutcome outcome;
    if (!headerSeen_) {
        columns_ = ReadCsvHeader(line);
        headerSeen_ = columns_.type >= 0 && columns_.value >= 0;
        return outcome;
    }
    if (!SplitCsv(line, fields_, unquoted_) ||
        static_cast<std::size_t>(std::max(columns_.type, columns_.value)) >= fields_.size()) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "not a row of the header's columns";
        return outcome;
    }
    const std::string_view type = fields_[static_cast<std::size_t>(columns_.type)];
    std::string_view value = fields_[static_cast<std::size_t>(columns_.value)];
    std::string_view name;
    if (type == "filename|md5" || type == "filename|sha256" || type == "malware-sample") {
        name = value.substr(0, value.rfind('|'));
        value = value.substr(value.rfind('|') + 1);
    } else if (type != "md5" && type != "sha256") {
        return outcome;  // other attributes: not hashes
    }
    for (const int at : columns_.names) {
        if (!name.empty())
            break;
        if (static_cast<std::size_t>(at) < fields_.size())
            name = fields_[static_cast<std::size_t>(at)];
    }
    Accept(outcome, value, name, 0, CsvSize());
    return outcome;
}

}  // namespace qirn
