#include "cli/ScanOptions.h"

#include "cache/KeptDigests.h"
#include "engine/text/WholeNumber.h"

#include <algorithm>
#include <thread>

namespace qirn {

namespace {

constexpr std::string_view kCacheHelp =
    "keep file digests between scans in FILE (default:\n$XDG_CACHE_HOME/qirn-checker/digests.sqlite); a file\n"
    "that has not changed since it was last read is not\nread again";
constexpr std::string_view kRematchHelp =
    "match the digests that earlier scans kept for files\nunder each FOLDER against the signatures, without\n"
    "walking; each match is read again before it is\nreported. Files new or changed since their last scan\n"
    "are not covered";
constexpr std::string_view kNoCacheHelp = "not available: this build keeps no digest cache";

const OptionRow kOptions[] = {
    {"--signatures", "-s", "FILE", "a file",
        "signature file (default: sa.kvd in the application\nfolder: beside this program, or, installed,\n"
        "~/.local/share/qirn-checker/ or the sample installed\nwith it); one \"digest=name\" line per signature.\n"
        "Repeatable, and any hash list that qirn-sigtool\nimport reads is taken",
        [](ScanOptions& o, const std::string& v) {
            o.signatures.push_back(v);
            return true;
        }},
    {"--jobs", "-j", "N", "a number from 1 to 256",
        "digest files on N threads (default: the number of\ncores); the output is the same for every N",
        [](ScanOptions& o, const std::string& v) { return WholeNumberWithin(v, 1u, 256u, o.jobs); }},
    {"--format", "", "FORMAT", "text or jsonl",
        "text (default) or jsonl: one JSON object per line, see\ndocs/scan-jsonl.md",
        [](ScanOptions& o, const std::string& v) {
            if (v != "text" && v != "jsonl")
                return false;
            o.format = v == "jsonl" ? OutputFormat::JsonLines : OutputFormat::Text;
            return true;
        }},
    {"--max-size", "", "BYTES", "a number from 0 to 2147483646",
        "digest files of at most BYTES bytes (default 83000);\neach is read whole into memory",
        [](ScanOptions& o, const std::string& v) {
            return WholeNumberWithin<std::int32_t>(v, 0, mdlFindFiles::kLargestSizeLimit, o.maxSize);
        }},
    {"--exclude", "", "PATTERN", "a pattern",
        "leave out each entry whose path starts with a match of\nPATTERN, or one of whose names matches it (* ? [...]\n"
        "wildcards; * does not match \"/\"); an excluded folder\nis not entered. May be given several times",
        [](ScanOptions& o, const std::string& v) {
            o.excludes.push_back(v);
            return !v.empty();
        }},
    {"--one-file-system", "-x", "", "", "do not enter folders on other file systems",
        [](ScanOptions& o, const std::string&) { return o.oneFileSystem = true; }},
    {"--strict", "", "", "",
        "exit with status 3 when any entry could not be read or\nthe scan was not finished (unless a hit was found)",
        [](ScanOptions& o, const std::string&) { return o.strict = true; }},
    {"--quiet", "-q", "", "", "no progress line on a terminal",
        [](ScanOptions& o, const std::string&) { return o.quiet = true; }},
    {"--move", "", "DIR", "a folder",
        "move each file with a hit into DIR (made with mode 0700\nwhen missing), beside a DIR/ENTRY.json that says "
        "where\n"
        "it was; a file that changed since it was read stays",
        [](ScanOptions& o, const std::string& v) {
            o.moveTo = v;
            return !v.empty();
        }},
    {"--remove", "", "", "", "delete each file with a hit, unless it changed since",
        [](ScanOptions& o, const std::string&) { return o.remove = true; }},
    {"--restore", "", "DIR/ENTRY", "a quarantined file",
        "put a moved file back where it was, when nothing is\nthere now; no FOLDER is scanned. Exit status 0 when it\n"
        "is back, 2 when not",
        [](ScanOptions& o, const std::string& v) {
            o.restore = v;
            return !v.empty();
        }},
    {"--cache", "", "FILE", "a file", kCacheHelp,
        [](ScanOptions& o, const std::string& v) {
            o.cacheFile = v;
            return !v.empty();
        }},
    {"--no-cache", "", "", "", "read every file, and keep no digests",
        [](ScanOptions& o, const std::string&) { return o.noCache = true; }},
    {"--rematch", "", "", "", kRematchHelp, [](ScanOptions& o, const std::string&) { return o.rematch = true; }},
    {"--help", "-h", "", "", "show this text", [](ScanOptions& o, const std::string&) { return o.help = true; }},
    {"--version", "", "", "", "show the version", [](ScanOptions& o, const std::string&) { return o.version = true; }},
};

const OptionRow* FindOption(std::string_view arg)
{
    for (const OptionRow& row : kOptions) {
        if (arg == row.name || (!row.alias.empty() && arg == row.alias))
            return &row;
    }
    return nullptr;
}

}  // namespace

std::span<const OptionRow> ScanOptionTable()
{
    return kOptions;
}

std::optional<ScanOptions> ParseScanArguments(std::span<const std::string> args, std::FILE* err)
{
    ScanOptions options;
    options.jobs = std::clamp(std::thread::hardware_concurrency(), 1u, 256u);
    bool onlyFolders = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFolders || arg.empty() || arg[0] != '-' || arg == "-") {
            options.folders.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFolders = true;
            continue;
        }
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const OptionRow* row = FindOption(name);
        if (row == nullptr || (equals != std::string::npos && row->value.empty())) {
            std::fprintf(err, "qirn-scan: unknown option %s\n", arg.c_str());
            return std::nullopt;
        }
        std::string value;
        bool present = true;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        else if (!row->value.empty())
            present = ++i < args.size() && (value = args[i], true);
        if (!present || !row->apply(options, value)) {
            std::fprintf(err, "qirn-scan: %.*s needs %.*s\n", static_cast<int>(row->name.size()), row->name.data(),
                static_cast<int>(row->needs.size()), row->needs.data());
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
    if (options.moveTo && options.remove) {
        std::fputs("qirn-scan: --move and --remove exclude each other\n", err);
        return std::nullopt;
    }
    if (options.restore) {
        if (!options.folders.empty() || options.moveTo || options.remove) {
            std::fputs("qirn-scan: --restore takes no folder or file to scan\n", err);
            return std::nullopt;
        }
        return options;
    }
    if (!KeptDigests::Available() && (options.cacheFile || options.rematch)) {
        std::fprintf(err, "qirn-scan: %s is not available: this build keeps no digest cache\n",
            options.rematch ? "--rematch" : "--cache");
        return std::nullopt;
    }
    if (options.rematch && options.noCache) {
        std::fputs("qirn-scan: --rematch needs the digest cache\n", err);
        return std::nullopt;
    }
    if (options.folders.empty()) {
        std::fputs("qirn-scan: no folder or file to scan\n", err);
        return std::nullopt;
    }
    return options;
}

std::string ScanUsage()
{
    std::string text = "Usage: qirn-scan [OPTION]... FOLDER|FILE...\n"
                       "       qirn-scan --restore DIR/ENTRY\n"
                       "\n"
                       "Scans each FOLDER and all folders below it, depth first, and each FILE, for\n"
                       "files whose MD5 or SHA-256 digest is listed in the signature file. Links\n"
                       "inside the folders, and a FILE that is a link, are not followed; FIFOs,\n"
                       "devices and sockets are never opened.\n"
                       "\n";
    for (const OptionRow& row : kOptions) {
        std::string head = "  ";
        if (!row.alias.empty())
            head += std::string(row.alias) + ", ";
        head += row.name;
        if (!row.value.empty())
            head += " " + std::string(row.value);
        std::string_view help = row.help;
        if (!KeptDigests::Available() && (help == kCacheHelp || help == kRematchHelp))
            help = kNoCacheHelp;
        bool first = true;
        while (!help.empty() || first) {
            const std::size_t end = help.find('\n');
            std::string line = first ? head : std::string();
            line.resize(std::max<std::size_t>(line.size() + 2, 26), ' ');
            text += line;
            text += help.substr(0, end);
            text += '\n';
            help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
            first = false;
        }
    }
    text += "\n"
            "Each hit is one line on standard output: FULL_PATH: SIGNATURE_NAME FOUND\n"
            "In these lines and in messages, control characters and the backslash in paths\n"
            "and names are written as \\\\, \\t, \\n, \\r or \\xHH, so one hit is always one\n"
            "line; other bytes are written as they are. --format jsonl gives the exact bytes.\n"
            "Entries that cannot be read are named on standard error and skipped. At the end\n"
            "a summary goes to standard error: how many entries were met and what became of\n"
            "each (hit, clean, too large, not a regular file, unreadable, excluded), and\n"
            "whether the scan was complete. On a terminal a progress line is shown.\n"
            "\n"
            "Exit status:\n"
            "  0    every file examined, nothing found (also when some entries could not\n"
            "       be read, unless --strict)\n"
            "  1    something found (whatever else happened, unless 2 for standard output\n"
            "       or an interruption)\n"
            "  2    the scan could not run: bad arguments, the signature file missing or\n"
            "       rejected, a FOLDER that cannot be opened or listed; or a write to\n"
            "       standard output failed (the scan then ends at once)\n"
            "  3    with --strict: nothing found, but some entry could not be read\n"
            "  130  interrupted (Ctrl-C); 143 on a termination request\n";
    return text;
}

std::string ScanVersion()
{
    return "qirn-scan " QIRN_VERSION "\n";
}

}  // namespace qirn
