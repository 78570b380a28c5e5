#include "cli/ScanOutput.h"

#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"

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

}  // namespace qirn
