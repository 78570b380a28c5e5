#include "cli/ScanOutput.h"

#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"

#include <algorithm>
#include <array>

namespace qirn {

namespace {

void AppendNumberField(std::string& out, std::string_view key, std::uint64_t value)
{
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

bool WriteLine(std::FILE* out, const std::string& line)
{
    // Flushed per record: a hit must not wait in a buffer, and a failed write
    // must be seen at once.
    return std::fwrite(line.data(), 1, line.size(), out) == line.size() && std::fflush(out) == 0;
}

class TextOutput final : public ScanOutput {
public:
    explicit TextOutput(std::FILE* out) : out_(out) { }

    bool Hit(std::string_view path, std::string_view signature, const Md5Digest&, const Sha256Digest*,
        std::uint64_t) override
    {
        return WriteLine(out_, EscapeForText(path) + ": " + EscapeForText(signature) + " FOUND\n");
    }
    bool Unreadable(std::string_view, const Failure&) override { return true; }
    bool Quarantined(const QuarantineNote& note) override
    {
        if (!note.done)
            return true;
        return WriteLine(out_,
            EscapeForText(note.path) +
                (note.moved ? ": moved to " + EscapeForText(note.entry) : std::string(": removed")) + "\n");
    }
    bool Summary(const ScanSummary&) override { return std::fflush(out_) == 0 && std::ferror(out_) == 0; }

private:
    std::FILE* out_;
};

class JsonLinesOutput final : public ScanOutput {
public:
    explicit JsonLinesOutput(std::FILE* out) : out_(out) { }

    bool Hit(std::string_view path, std::string_view signature, const Md5Digest& digest, const Sha256Digest* sha256,
        std::uint64_t size) override
    {
        std::string line = R"({"type":"hit",)";
        AppendJsonField(line, "path", path);
        line += ',';
        AppendJsonField(line, "signature", signature);
        line += R"(,"md5":")" + mdlMD5::DigestToHex(digest) + '"';
        if (sha256 != nullptr)
            line += R"(,"sha256":")" + mdlMD5::DigestToHex(*sha256) + '"';
        AppendNumberField(line, "size", size);
        line += "}\n";
        return WriteLine(out_, line);
    }

    bool Unreadable(std::string_view path, const Failure& failure) override
    {
        std::string line = R"({"type":"unreadable",)";
        AppendJsonField(line, "path", path);
        line += ',';
        AppendJsonField(line, "reason", FailureReason(failure));
        line += "}\n";
        return WriteLine(out_, line);
    }

    bool Quarantined(const QuarantineNote& note) override
    {
        std::string line = R"({"type":")";
        line += note.done ? (note.moved ? "moved" : "removed") : (note.moved ? "not_moved" : "not_removed");
        line += "\",";
        AppendJsonField(line, "path", note.path);
        if (note.done && note.moved) {
            line += ',';
            AppendJsonField(line, "entry", note.entry);
        }
        if (!note.done) {
            line += ',';
            AppendJsonField(line, "reason", note.reason);
        }
        line += "}\n";
        return WriteLine(out_, line);
    }

    bool Summary(const ScanSummary& summary) override
    {
        const ScanCounts& counts = summary.counts;
        std::string line = R"({"type":"summary",)";
        AppendJsonField(line, "signature_file", summary.signatureFile);
        AppendNumberField(line, "signatures", summary.signatures);
        AppendNumberField(line, "entries", counts.Entries());
        AppendNumberField(line, "hit", counts.hit);
        AppendNumberField(line, "clean", counts.clean);
        AppendNumberField(line, "too_large", counts.tooLarge);
        AppendNumberField(line, "not_regular", counts.notRegular);
        AppendNumberField(line, "unreadable", counts.unreadable);
        AppendNumberField(line, "excluded", counts.excluded);
        AppendNumberField(line, "hits", counts.hitLines);
        line += ",\"complete\":";
        line += summary.complete ? "true" : "false";
        line += ",\"interrupted\":";
        line += summary.interruptSignal != 0 ? "true" : "false";
        line += R"(,"started":")" + UtcTimeText(summary.started) + '"';
        line += R"(,"ended":")" + UtcTimeText(summary.ended) + '"';
        AppendNumberField(line, "exit_status", static_cast<std::uint64_t>(summary.exitStatus));
        if (!summary.error.empty()) {
            line += ',';
            AppendJsonField(line, "error", summary.error);
        }
        line += "}\n";
        return WriteLine(out_, line);
    }

private:
    std::FILE* out_;
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes)
{
    out += '"';
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8Length(bytes.substr(i));
        if (length == 0) {
            out += "\xef\xbf\xbd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f || IsC1(bytes.substr(i, length))) {
            const unsigned code = length == 1 ? c : static_cast<unsigned char>(bytes[i + 1]);
            out += "\\u00";
            out += HexOf(static_cast<unsigned char>(code));
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    out += '"';
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j)
            out += j <= n ? kDigits[(group >> (18 - 6 * j)) & 63] : '=';
    }
    return out;
}

void AppendJsonField(std::string& out, std::string_view key, std::string_view bytes)
{
    out += '"';
    out += key;
    out += "\":";
    AppendJsonString(out, bytes);
    if (!IsUtf8(bytes)) {
        out += ",\"";
        out += key;
        out += "_base64\":\"";
        out += Base64(bytes);
        out += '"';
    }
}

std::unique_ptr<ScanOutput> MakeScanOutput(OutputFormat format, std::FILE* out)
{
    if (format == OutputFormat::JsonLines)
        return std::make_unique<JsonLinesOutput>(out);
    return std::make_unique<TextOutput>(out);
}

std::string_view FailureReason(const Failure& failure)
{
    const std::string_view text = failure.description();
    const std::size_t colon = text.rfind(": ");
    return colon == std::string_view::npos ? text : text.substr(colon + 2);
}

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const sys_days day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss clock{milliseconds - day};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()),
        static_cast<int>(clock.subseconds().count()));
    return text.data();
}

}  // namespace qirn
