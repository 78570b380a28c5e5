#pragma once

// The lines of each hash list format: what one line holds.

#include "cli/HashListImport.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// What a CSV header says about its columns.
struct CsvColumns {
    int md5 = -1;
    int sha256 = -1;
    int type = -1;           // MISP
    int value = -1;          // MISP
    int size = -1;           // the file's size in bytes
    std::vector<int> names;  // candidates for the signature name, best first
};

// Fields of one CSV line; quotes and doubled quotes are understood, spaces
// around fields dropped. False when a quote is left open.
bool SplitCsv(std::string_view line, std::vector<std::string_view>& fields, std::string& unquoted);
// Whether text ends inside a quoted field: the row goes on past a line end.
bool CsvQuoteOpen(std::string_view text);
// The columns of a header line (a leading "#" is allowed).
CsvColumns ReadCsvHeader(std::string_view line);

// text without the spaces and tabs around it.
std::string_view Trimmed(std::string_view text);
// The last component of a path written with "/" or "\\".
std::string_view BaseName(std::string_view path);
// A size in bytes written in decimal digits, or nothing.
std::optional<std::uint64_t> SizeOf(std::string_view text);

struct LineOutcome {
    enum class Kind { Skipped, Accepted, Rejected };
    Kind kind = Kind::Skipped;
    // Up to two signatures (a CSV row may give an MD5 and a SHA-256).
    std::array<ImportedSignature, 2> signatures{};
    std::size_t count = 0;
    std::string reason;
};

// Reads one line of a list; listName names signatures that carry no name of
// their own. Returned views point into line or into scratch.
class LineReader {
public:
    LineReader(HashListFormat format, std::string listName) : format_(format), listName_(std::move(listName)) { }
    LineOutcome Read(std::string_view line);

private:
    LineOutcome Csv(std::string_view line);
    LineOutcome Misp(std::string_view line);
    LineOutcome Hashdeep(std::string_view line);
    bool Accept(LineOutcome& outcome, std::string_view digest, std::string_view name, std::size_t slot,
        std::optional<std::uint64_t> size = std::nullopt);
    // The size column of a CSV row, where the header names one.
    std::optional<std::uint64_t> CsvSize() const;

    HashListFormat format_;
    std::string listName_;
    bool headerSeen_ = false;
    CsvColumns columns_;
    std::vector<std::string> hashdeepColumns_;  // from the last "%%%%" column header
    std::vector<std::string_view> fields_;
    std::string unquoted_;
    std::array<std::string, 2> digests_;
    std::array<std::string, 2> names_;
};

}  // namespace qirn
