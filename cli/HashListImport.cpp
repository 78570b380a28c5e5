#include "cli/HashListImport.h"

#include "cli/HashListLines.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace qirn {

namespace {

struct NamedFormat {
    std::string_view name;
    HashListFormat format;
};
constexpr std::array<NamedFormat, 9> kFormats = {
    {{"kvd", HashListFormat::Kvd}, {"plain", HashListFormat::Plain}, {"sums", HashListFormat::Sums},
        {"bsd", HashListFormat::Bsd}, {"hashdeep", HashListFormat::Hashdeep}, {"clamav", HashListFormat::ClamAv},
        {"loki", HashListFormat::Loki}, {"csv", HashListFormat::Csv}, {"misp", HashListFormat::Misp}}};

// The empty file's MD5 and SHA-256.
constexpr std::array<std::string_view, 2> kTrivialDigests = {
    "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"};

constexpr std::size_t kPiece = std::size_t{1} << 20;
// A longer line is no line of a hash list; it is skipped without being held.
constexpr std::size_t kMaxLine = std::size_t{64} << 10;
constexpr std::size_t kDetectionLines = 64;

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The lines of a file, read in pieces; CR LF and LF end lines, a UTF-8
// byte-order mark at the start is dropped.
class LineStream {
public:
    explicit LineStream(std::FILE* file) : file_(file), buffer_(kPiece) { }

    // False at the end; tooLong is set for a line longer than kMaxLine.
    bool Next(std::string_view& line, bool& tooLong)
    {
        tooLong = false;
        for (;;) {
            const char* start = buffer_.data() + begin_;
            const auto* end = static_cast<const char*>(std::memchr(start, '\n', filled_ - begin_));
            if (end != nullptr || (atEnd_ && begin_ < filled_)) {
                const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - start) : filled_ - begin_;
                line = std::string_view(start, length);
                begin_ += length + (end != nullptr ? 1 : 0);
                if (end != nullptr && line.ends_with('\r'))
                    line.remove_suffix(1);
                ++lineNumber_;
                if (lineNumber_ == 1 && line.starts_with("\xEF\xBB\xBF"))
                    line.remove_prefix(3);
                // Whether it was dropped piece by piece or fit in the buffer.
                tooLong = skipping_ || length > kMaxLine;
                skipping_ = false;
                return true;
            }
            if (atEnd_)
                return false;
            if (filled_ - begin_ >= kMaxLine) {
                // Keep reading but drop what the overlong line has so far.
                skipping_ = true;
                begin_ = filled_;
            }
            std::memmove(buffer_.data(), buffer_.data() + begin_, filled_ - begin_);
            filled_ -= begin_;
            begin_ = 0;
            const std::size_t got = std::fread(buffer_.data() + filled_, 1, buffer_.size() - filled_, file_);
            filled_ += got;
            if (got == 0) {
                if (std::ferror(file_) != 0)
                    throw std::runtime_error(ErrorText(errno));
                atEnd_ = true;
            }
        }
    }

    std::uint64_t LineNumber() const { return lineNumber_; }

private:
    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t lineNumber_ = 0;
    bool atEnd_ = false;
    bool skipping_ = false;
};

using FileCloser = decltype([](std::FILE* file) { std::fclose(file); });

// Windows takes either slash between folders; POSIX only "/".
constexpr std::string_view kSeparators = std::filesystem::path::preferred_separator == '\\' ? "/\\" : "/";

std::string_view FileNameOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of(kSeparators);
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool IsTrivialDigest(std::string_view digestText)
{
    return std::find(kTrivialDigests.begin(), kTrivialDigests.end(), digestText) != kTrivialDigests.end();
}

std::optional<HashListFormat> HashListFormatNamed(std::string_view name)
{
    for (const NamedFormat& entry : kFormats) {
        if (entry.name == name)
            return entry.format;
    }
    return std::nullopt;
}

std::string_view HashListFormatName(HashListFormat format)
{
    for (const NamedFormat& entry : kFormats) {
        if (entry.format == format)
            return entry.name;
    }
    return "?";
}

std::string HashListFormatNames()
{
    std::string names;
    for (const NamedFormat& entry : kFormats)
        names += std::string(names.empty() ? "" : ", ") + std::string(entry.name);
    return names;
}

Detection DetectHashListFormat(const std::vector<std::string_view>& firstLines, std::string_view fileName)
{
    for (const std::string_view line : firstLines) {
        if (line.starts_with("%%%% HASHDEEP"))
            return {HashListFormat::Hashdeep, {}};
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        if (line.find(',') != std::string_view::npos) {
            const CsvColumns columns = ReadCsvHeader(line);
            if (columns.type >= 0 && columns.value >= 0)
                return {HashListFormat::Misp, {}};
            if (columns.md5 >= 0 || columns.sha256 >= 0)
                return {HashListFormat::Csv, {}};
            if (!line.starts_with('#'))
                return {std::nullopt, "a CSV file without an MD5 or SHA-256 column"};
        }
        if (line.starts_with('#'))
            continue;
        if (line.starts_with("MD5 (") || line.starts_with("SHA256 ("))
            return {HashListFormat::Bsd, {}};
        std::size_t hex = 0;
        while (hex < line.size() && IsHex(line[hex]))
            ++hex;
        const std::string_view rest = line.substr(hex);
        if (hex >= 32) {
            if (rest.starts_with('='))
                return {HashListFormat::Kvd, {}};
            if (rest.starts_with(':'))
                return {HashListFormat::ClamAv, {}};
            if (rest.starts_with(';'))
                return {HashListFormat::Loki, {}};
            if (rest.starts_with("  ") || rest.starts_with(" *"))
                return {HashListFormat::Sums, {}};
            if (rest.find_first_not_of(" \t") == std::string_view::npos)
                return {HashListFormat::Plain, {}};
        }
        return {std::nullopt, "the format cannot be told from its first line; name it with --format"};
    }
    (void)fileName;
    return {std::nullopt, "no hash line"};
}

ImportReport ImportHashList(const std::string& file, std::optional<HashListFormat> forced,
    const std::function<void(const ImportedSignature&)>& onSignature)
{
    ImportReport report;
    const std::unique_ptr<std::FILE, FileCloser> in(OpenForReading(PathFromText(file)));
    if (!in) {
        report.error = ErrorText(errno);
        return report;
    }
    try {
        std::array<unsigned char, 2> mark{};
        if (std::fread(mark.data(), 1, 2, in.get()) == 2 &&
            ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF))) {
            report.error = "a UTF-16 file; convert it to UTF-8 first";
            return report;
        }
        std::rewind(in.get());
        std::string_view line;
        bool tooLong = false;
        if (forced) {
            report.format = *forced;
        } else {
            // Detected from a copy of the first lines, then read from the start.
            std::vector<std::string> copies;
            LineStream head(in.get());
            while (copies.size() < kDetectionLines && head.Next(line, tooLong))
                copies.emplace_back(tooLong ? std::string_view() : line);
            const Detection detection =
                DetectHashListFormat(std::vector<std::string_view>(copies.begin(), copies.end()), FileNameOf(file));
            if (!detection.format) {
                report.error = detection.why;
                return report;
            }
            report.format = *detection.format;
            std::rewind(in.get());
        }
        LineStream lines(in.get());
        LineReader reader(report.format, std::string(FileNameOf(file)));
        const auto reject = [&](std::uint64_t lineNumber, std::string reason) {
            ++report.rejected;
            if (report.firstRejected.size() < kReportedRejections)
                report.firstRejected.push_back({lineNumber, std::move(reason)});
        };
        const std::string tooLongReason = "longer than " + std::to_string(kMaxLine) + " bytes";
        // A CSV row whose quoted field holds a line break goes on over the
        // next lines; it is read, or refused, whole, under its first line.
        const bool csv = report.format == HashListFormat::Csv || report.format == HashListFormat::Misp;
        std::string row;
        std::uint64_t rowLine = 0;
        while (lines.Next(line, tooLong)) {
            std::uint64_t lineNumber = lines.LineNumber();
            if (csv && (!row.empty() || (!tooLong && !line.starts_with('#') && CsvQuoteOpen(line)))) {
                if (row.empty())
                    rowLine = lineNumber;
                else
                    row += '\n';
                row += line;
                if (tooLong || row.size() > kMaxLine) {
                    row.clear();
                    reject(rowLine, tooLongReason);
                    continue;
                }
                if (CsvQuoteOpen(row))
                    continue;
                line = row;
                lineNumber = rowLine;
            }
            if (tooLong) {
                reject(lineNumber, tooLongReason);
                continue;
            }
            const LineOutcome outcome = reader.Read(line);
            if (outcome.kind == LineOutcome::Kind::Rejected)
                reject(lineNumber, outcome.reason);
            for (std::size_t i = 0; outcome.kind != LineOutcome::Kind::Rejected && i < outcome.count; ++i) {
                onSignature(outcome.signatures[i]);
                ++report.accepted;
            }
            row.clear();
        }
        if (!row.empty())
            reject(rowLine, "not a CSV row: a quote is not closed, or text follows a closing quote");
    } catch (const std::runtime_error& error) {
        report.error = error.what();
        return report;
    }
    if (report.accepted == 0 && report.rejected == 0 &&
        (report.format == HashListFormat::Csv || report.format == HashListFormat::Misp)) {
        report.error = "a CSV file without an MD5 or SHA-256 column";
    } else if (report.accepted == 0) {
        report.error = "no hash line";
    }
    return report;
}

}  // namespace qirn
