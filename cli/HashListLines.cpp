#include "cli/HashListLines.h"

#include "engine/text/WholeNumber.h"

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

std::optional<std::uint64_t> SizeOf(std::string_view text)
{
    return WholeNumber<std::uint64_t>(Trimmed(text));
}

bool LineReader::Accept(LineOutcome& outcome, std::string_view digest, std::string_view name, std::size_t slot,
    std::optional<std::uint64_t> size)
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
    outcome.signatures[outcome.count++] = {lower, clean, size};
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
        Accept(outcome, digest, name, 0, SizeOf(size));
        return outcome;
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

}  // namespace qirn
