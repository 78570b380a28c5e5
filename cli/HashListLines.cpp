#include "cli/HashListLines.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qirn {

namespace {

// Each byte's lowercase hex digit, or 0 for a byte that is none: ASCII
// only, whatever the locale, and without branches, since every digit of
// every line passes here and lists mix upper and lower case.
constexpr std::array<char, 256> kHexDigits = [] {
    std::array<char, 256> digits{};
    for (char c = '0'; c <= '9'; ++c)
        digits[static_cast<unsigned char>(c)] = c;
    for (char c = 'a'; c <= 'f'; ++c) {
        digits[static_cast<unsigned char>(c)] = c;
        digits[static_cast<unsigned char>(c - 'a' + 'A')] = c;
    }
    return digits;
}();

bool IsHexDigit(char c)
{
    return kHexDigits[static_cast<unsigned char>(c)] != 0;
}

// True when every byte of text is a hex digit.
bool AllHex(std::string_view text)
{
    char zero = 1;
    for (const char c : text)
        zero = static_cast<char>(zero & (kHexDigits[static_cast<unsigned char>(c)] != 0 ? 1 : 0));
    return zero != 0;
}

std::string ColumnKey(std::string_view name)
{
    std::string key;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0)
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

// The length of the hex run at the start of line.
std::size_t HexRun(std::string_view line)
{
    std::size_t length = 0;
    while (length < line.size() && IsHexDigit(line[length]))
        ++length;
    return length;
}

bool IsComment(std::string_view line)
{
    return line.starts_with('#');
}

}  // namespace

std::string_view Trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view BaseName(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

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

bool LineReader::Accept(LineOutcome& outcome, std::string_view digest, std::string_view name, std::size_t slot)
{
    if (digest.size() == 40 && AllHex(digest)) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "a SHA-1 digest (only MD5 and SHA-256 are matched)";
        return false;
    }
    if ((digest.size() != 32 && digest.size() != 64) || !AllHex(digest)) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "no MD5 or SHA-256 digest";
        return false;
    }
    std::string& lower = digests_[slot];
    lower.assign(digest);
    for (char& c : lower)
        c = kHexDigits[static_cast<unsigned char>(c)];
    std::string& clean = names_[slot];
    clean.assign(Trimmed(name));
    if (clean.empty() || clean == "n/a")
        clean = listName_;
    // "=" would cut the name in sa.kvd; line ends and NUL would break the line.
    for (char& c : clean) {
        if (c == '=' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    }
    outcome.signatures[outcome.count++] = {lower, clean};
    outcome.kind = LineOutcome::Kind::Accepted;
    return true;
}

LineOutcome LineReader::Read(std::string_view line)
{
    LineOutcome outcome;
    if (Trimmed(line).empty())
        return outcome;
    switch (format_) {
    case HashListFormat::Csv:
        return Csv(line);
    case HashListFormat::Misp:
        return Misp(line);
    case HashListFormat::Hashdeep:
        return Hashdeep(line);
    default:
        break;
    }
    if (IsComment(line))
        return outcome;
    if (format_ == HashListFormat::Bsd) {
        const std::size_t open = line.find(" (");
        const std::size_t close = line.rfind(") = ");
        const std::string_view algorithm = line.substr(0, open);
        if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
            (algorithm != "MD5" && algorithm != "SHA256")) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = R"(not an "MD5 (file) = digest" or "SHA256 (file) = digest" line)";
            return outcome;
        }
        Accept(outcome, Trimmed(line.substr(close + 4)), BaseName(line.substr(open + 2, close - open - 2)), 0);
        return outcome;
    }
    const std::size_t hex = HexRun(line);
    const std::string_view digest = line.substr(0, hex);
    const std::string_view rest = line.substr(hex);
    std::string_view name;
    switch (format_) {
    case HashListFormat::Plain:
        if (!Trimmed(rest).empty()) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "more than a digest on the line";
            return outcome;
        }
        name = listName_;
        break;
    case HashListFormat::Sums:
        // "digest  file" (text mode) or "digest *file" (binary mode).
        if (!rest.starts_with("  ") && !rest.starts_with(" *")) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "not a \"digest  file\" line";
            return outcome;
        }
        name = BaseName(rest.substr(2));
        break;
    case HashListFormat::Kvd:
        if (!rest.starts_with('=')) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "not a \"digest=name\" line";
            return outcome;
        }
        name = rest.substr(
            1, rest.find('=', 1) == std::string_view::npos ? std::string_view::npos : rest.find('=', 1) - 1);
        break;
    case HashListFormat::ClamAv: {
        // hash:size:name, size a number or "*", more fields after the name.
        // Checked first: a digest alone leaves rest empty.
        if (!rest.starts_with(':')) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "not a \"hash:size:name\" line";
            return outcome;
        }
        const std::size_t sizeEnd = rest.find(':', 1);
        const std::string_view size = rest.substr(1, sizeEnd == std::string_view::npos ? 0 : sizeEnd - 1);
        if (sizeEnd == std::string_view::npos || size.empty() ||
            (size != "*" && !std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; }))) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "not a \"hash:size:name\" line";
            return outcome;
        }
        name = rest.substr(sizeEnd + 1);
        name = name.substr(0, name.find(':'));
        break;
    }
    case HashListFormat::Loki: {
        if (!rest.starts_with(';')) {
            outcome.kind = LineOutcome::Kind::Rejected;
            outcome.reason = "not a \"hash;description\" line";
            return outcome;
        }
        name = rest.substr(1);
        // hash;score;description
        const std::size_t semicolon = name.find(';');
        if (semicolon != std::string_view::npos && semicolon > 0 &&
            std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(semicolon),
                [](char c) { return c >= '0' && c <= '9'; }))
            name.remove_prefix(semicolon + 1);
        break;
    }
    default:
        break;
    }
    Accept(outcome, digest, name, 0);
    return outcome;
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
        if (!digest.empty() && !Accept(outcome, digest, name, outcome.count))
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
    Accept(outcome, value, name, 0);
    return outcome;
}

}  // namespace qirn
