#pragma once

// Reading the hash lists people have: plain lists, md5sum/sha256sum and BSD
// tag output, hashdeep files, ClamAV .hdb/.hsb, LOKI/Fenrir lists, and CSV
// exports (MalwareBazaar, MISP). Files are streamed, never held whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

enum class HashListFormat { Kvd, Plain, Sums, Bsd, Hashdeep, ClamAv, Loki, Csv, Misp };

std::optional<HashListFormat> HashListFormatNamed(std::string_view name);
std::string_view HashListFormatName(HashListFormat format);
// Every name HashListFormatNamed accepts, separated by ", ".
std::string HashListFormatNames();

// One signature read from a list: lowercase hex digest text (32 or 64
// digits), a name without "=", CR, LF or NUL, and the file's size where the
// list gives one.
struct ImportedSignature {
    std::string_view digestText;
    std::string_view name;
    std::optional<std::uint64_t> size;
};

// Whether digestText is that of content too common to mean anything, such
// as the empty file: listed under a malware name, it makes every such file a hit.
bool IsTrivialDigest(std::string_view digestText);

struct RejectedLine {
    std::uint64_t lineNumber = 0;
    std::string reason;
};

struct ImportReport {
    HashListFormat format = HashListFormat::Plain;
    std::uint64_t accepted = 0;
    std::uint64_t rejected = 0;
    std::vector<RejectedLine> firstRejected;  // at most kReportedRejections
    // Set when the file could not be read as a list at all.
    std::optional<std::string> error;
};

inline constexpr std::size_t kReportedRejections = 5;

// Reads file, detecting its format by content unless forced, and calls
// onSignature for every accepted line in file order.
ImportReport ImportHashList(const std::string& file, std::optional<HashListFormat> forced,
    const std::function<void(const ImportedSignature&)>& onSignature);

// The format a list's first lines show, or why none fits.
struct Detection {
    std::optional<HashListFormat> format;
    std::string why;
};
Detection DetectHashListFormat(const std::vector<std::string_view>& firstLines, std::string_view fileName);

}  // namespace qirn
