#pragma once

// The command line of qirn-scan: one table row per option, from which both
// the parser and the option list of the help text are made.

#include "engine/scan/FindFiles.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

enum class OutputFormat { Text, JsonLines };

struct ScanOptions {
    std::vector<std::string> signatures;  // empty: sa.kvd beside the program
    std::vector<std::string> folders;     // or files, each scanned alone
    std::vector<std::string> excludes;
    std::optional<std::string> moveTo;
    std::optional<std::string> restore;
    std::optional<std::string> cacheFile;
    unsigned jobs = 1;
    std::int32_t maxSize = mdlFindFiles::kSizeLimit;
    OutputFormat format = OutputFormat::Text;
    bool help = false;
    bool version = false;
    bool oneFileSystem = false;
    bool strict = false;
    bool quiet = false;
    bool remove = false;
    bool noCache = false;
    bool rematch = false;
};

struct OptionRow {
    std::string_view name;   // "--jobs"
    std::string_view alias;  // "-j", or empty
    std::string_view value;  // what follows, "N"; empty for a switch
    std::string_view needs;  // said when the value is missing or wrong
    std::string_view help;   // lines joined by "\n"
    // False when the value is not acceptable.
    bool (*apply)(ScanOptions& options, const std::string& value);
};

std::span<const OptionRow> ScanOptionTable();

// Reports what is wrong on err.
std::optional<ScanOptions> ParseScanArguments(std::span<const std::string> args, std::FILE* err);

std::string ScanUsage();
// "qirn-scan" and the version.
std::string ScanVersion();

}  // namespace qirn
