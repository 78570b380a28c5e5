#include "engine/remedy/QuarantineRecord.h"

#include "engine/platform/FileSystem.h"
#include "engine/platform/Platform.h"
#include "engine/text/JsonText.h"
#include "engine/text/TextEscape.h"
#include "engine/text/WholeNumber.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>

namespace qirn {

namespace {

std::string Octal(std::uint32_t mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

// The flat objects SidecarText writes: string and number values by key;
// arrays are skipped. nullopt for anything else.
class FlatJson {
public:
    static std::optional<std::map<std::string, std::string>> Parse(std::string_view text)
    {
        FlatJson json(text);
        std::map<std::string, std::string> fields;
        if (!json.Take('{'))
            return std::nullopt;
        while (!json.Take('}')) {
            if (!fields.empty() && !json.Take(','))
                return std::nullopt;
            std::optional<std::string> key = json.String();
            if (!key || !json.Take(':'))
                return std::nullopt;
            std::optional<std::string> value = json.Value();
            if (!value)
                return std::nullopt;
            fields[*key] = std::move(*value);
        }
        return fields;
    }

private:
    explicit FlatJson(std::string_view text) : text_(text) { }

    bool Take(char c)
    {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
        if (at_ == text_.size() || text_[at_] != c)
            return false;
        ++at_;
        return true;
    }

    std::optional<std::string> Value()
    {
        if (Take('[')) {
            for (bool first = true; !Take(']'); first = false) {
                if ((!first && !Take(',')) || !String())
                    return std::nullopt;
            }
            return std::string();
        }
        if (at_ < text_.size() && text_[at_] == '"')
            return String();
        const std::size_t start = at_;
        while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) != 0 || text_[at_] == '-'))
            ++at_;
        if (at_ == start)
            return std::nullopt;
        return std::string(text_.substr(start, at_ - start));
    }

    std::optional<std::string> String()
    {
        if (!Take('"'))
            return std::nullopt;
        std::string out;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ == text_.size())
                return std::nullopt;
            c = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t i = simple.find(c); i != std::string_view::npos) {
                out += meant[i];
                continue;
            }
            unsigned code = 0;
            if (c != 'u' || at_ + 4 > text_.size() ||
                std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16).ptr != text_.data() + at_ + 4 ||
                (code >= 0xd800 && code < 0xe000))
                return std::nullopt;
            at_ += 4;
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xc0 | code >> 6);
                out += static_cast<char>(0x80 | (code & 0x3f));
            } else {
                out += static_cast<char>(0xe0 | code >> 12);
                out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
                out += static_cast<char>(0x80 | (code & 0x3f));
            }
        }
        if (!Take('"'))
            return std::nullopt;
        return out;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<std::string> FromBase64(std::string_view text)
{
    std::string out;
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=')
            break;
        const std::string_view digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const std::size_t value = digits.find(c);
        if (value == std::string_view::npos)
            return std::nullopt;
        group = group << 6 | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(group >> bits & 0xff);
        }
    }
    return out;
}

template <typename Number>
bool NumberField(
    const std::map<std::string, std::string>& fields, const std::string& key, Number& number, int base = 10)
{
    const auto found = fields.find(key);
    if (found == fields.end())
        return false;
    const std::optional<Number> value = WholeNumber<Number>(found->second, base);
    if (value)
        number = *value;
    return value.has_value();
}

}  // namespace

std::string SidecarText(const QuarantineFacts& facts, std::span<const std::string_view> signatures)
{
    std::string text = "{";
    AppendJsonField(text, "original_path", facts.originalPath);
    // The exact bytes always, so a restore never depends on the text form.
    if (IsUtf8(facts.originalPath))
        text += R"(,"original_path_base64":")" + Base64(facts.originalPath) + '"';
    text += R"(,"mode":")" + Octal(facts.mode) + '"';
    text += ",\"uid\":" + std::to_string(facts.owner) + ",\"gid\":" + std::to_string(facts.group);
    text += ",\"atime_ns\":" + std::to_string(facts.accessedNs) + ",\"mtime_ns\":" + std::to_string(facts.modifiedNs);
    text += ",\"size\":" + std::to_string(facts.size) + R"(,"md5":")" + mdlMD5::DigestToHex(facts.digest) + '"';
    text += R"(,"signatures":[)";
    for (std::size_t i = 0; i < signatures.size(); ++i) {
        text += i > 0 ? "," : "";
        AppendJsonString(text, signatures[i]);
    }
    text += R"(],"quarantined":")" + UtcTimeText(std::chrono::system_clock::now()) + "\"}\n";
    return text;
}

std::optional<QuarantineFacts> ParseSidecar(std::string_view text)
{
    const std::optional<std::map<std::string, std::string>> fields = FlatJson::Parse(text);
    if (!fields || !fields->contains("original_path_base64") || !fields->contains("md5"))
        return std::nullopt;
    QuarantineFacts facts;
    const std::optional<std::string> path = FromBase64(fields->at("original_path_base64"));
    const std::optional<Md5Digest> digest = DigestFromText(fields->at("md5"));
    if (!path || !digest || !NumberField(*fields, "mode", facts.mode, 8) || !NumberField(*fields, "uid", facts.owner) ||
        !NumberField(*fields, "gid", facts.group) || !NumberField(*fields, "atime_ns", facts.accessedNs) ||
        !NumberField(*fields, "mtime_ns", facts.modifiedNs) || !NumberField(*fields, "size", facts.size))
        return std::nullopt;
    // Every field within what a file of this system can have.
    constexpr std::uint64_t kMaxId = 0xFFFFFFFF;
    if (facts.mode > 07777 || facts.owner > kMaxId || facts.group > kMaxId || path->empty() ||
        path->find('\0') != std::string::npos || !PathFromText(*path).is_absolute())
        return std::nullopt;
    facts.originalPath = *path;
    facts.digest = *digest;
    return facts;
}

std::optional<std::chrono::system_clock::time_point> QuarantinedAt(std::string_view text)
{
    const std::optional<std::map<std::string, std::string>> fields = FlatJson::Parse(text);
    if (!fields || !fields->contains("quarantined"))
        return std::nullopt;
    // 2026-12-07T13:14:15.123Z, as UtcTimeText writes it.
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
    char zone = 0;
    const std::string& when = fields->at("quarantined");
    if (when.size() != 24 ||
        std::sscanf(when.c_str(), "%4d-%2u-%2uT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hours, &minutes, &seconds,
            &milliseconds, &zone) != 8 ||
        zone != 'Z')
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
    if (!date.ok() || hours > 23 || minutes > 59 || seconds > 60 || hours < 0 || minutes < 0 || seconds < 0 ||
        milliseconds < 0)
        return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(hours) + std::chrono::minutes(minutes) +
        std::chrono::seconds(seconds) + std::chrono::milliseconds(milliseconds);
}

}  // namespace qirn
