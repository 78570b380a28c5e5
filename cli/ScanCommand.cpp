#include "cli/ScanCommand.h"

#include "engine/ApplicationFolder.h"
#include "engine/Failure.h"
#include "engine/FindFiles.h"
#include "engine/SignatureList.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace qirn {

namespace {

constexpr const char* kUsage = "Usage: qirn-scan [--signatures FILE] [--jobs N] FOLDER...\n"
                               "\n"
                               "Scans each FOLDER and all folders below it, depth first, for files of at\n"
                               "most 83000 bytes whose MD5 digest is listed in the signature file.\n"
                               "Links inside the folders are not followed; FIFOs, devices and sockets are\n"
                               "never opened.\n"
                               "\n"
                               "  --signatures FILE  signature file (default: sa.kvd beside this program);\n"
                               "                     one \"digest=name\" line per signature\n"
                               "  --jobs N           digest files on N threads (default: the number of\n"
                               "                     cores); the output is the same for every N\n"
                               "  --help             show this text\n"
                               "\n"
                               "Each hit is one line on standard output: FULL_PATH: SIGNATURE_NAME FOUND\n"
                               "Files or folders that cannot be read are named on standard error and skipped.\n"
                               "At the end a summary goes to standard error.\n"
                               "\n"
                               "Exit status: 0 nothing found; 1 something found; 2 the scan could not run\n"
                               "(signature file missing or rejected, a FOLDER missing or not a folder, or\n"
                               "bad arguments).\n";

class Silent final : public Caption, public EventPump {
public:
    void SetCaption(std::string_view) override { }
    void ProcessEvents() override { }
};

class PrintedHits final : public InfectionList, public ReportText {
public:
    explicit PrintedHits(std::FILE* out) : out_(out) { }

    void AddHit(Hit hit) override
    {
        const std::string& path = hit.path.native();
        std::fwrite(path.data(), 1, path.size(), out_);
        std::fputs(": ", out_);
        std::fwrite(hit.signatureName.data(), 1, hit.signatureName.size(), out_);
        std::fputs(" FOUND\n", out_);
        ++count_;
    }
    void Append(std::string_view) override { }

    std::uint64_t Count() const { return count_; }

private:
    std::FILE* out_;
    std::uint64_t count_ = 0;
};

class PrintedProblems final : public ProblemLog {
public:
    explicit PrintedProblems(std::FILE* err) : err_(err) { }

    void Unreadable(const std::string& path, const Failure& failure) override
    {
        std::fputs("qirn-scan: cannot read ", err_);
        std::fwrite(path.data(), 1, path.size(), err_);
        std::fprintf(err_, " (%s)\n", failure.description());
        ++count_;
    }

    std::uint64_t Count() const { return count_; }

private:
    std::FILE* err_;
    std::uint64_t count_ = 0;
};

struct Options {
    std::optional<std::string> signatures;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> folders;
    bool help = false;
};

std::optional<Options> ParseArguments(std::span<const std::string> args, std::FILE* err)
{
    Options options;
    bool onlyFolders = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFolders || arg.empty() || arg[0] != '-') {
            options.folders.push_back(arg);
        } else if (arg == "--") {
            onlyFolders = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--signatures" || arg == "-s") {
            if (++i == args.size()) {
                std::fprintf(err, "qirn-scan: %s needs a file\n", arg.c_str());
                return std::nullopt;
            }
            options.signatures = args[i];
        } else if (arg == "--jobs" || arg == "-j" || arg.starts_with("--jobs=")) {
            std::string value;
            if (arg.starts_with("--jobs=")) {
                value = arg.substr(std::string_view("--jobs=").size());
            } else if (++i < args.size()) {
                value = args[i];
            }
            unsigned jobs = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (error != std::errc() || end != value.data() + value.size() || jobs == 0 || jobs > 256) {
                std::fprintf(err, "qirn-scan: --jobs needs a number from 1 to 256\n");
                return std::nullopt;
            }
            options.jobs = jobs;
        } else if (arg.starts_with("--signatures=")) {
            options.signatures = arg.substr(std::string_view("--signatures=").size());
        } else {
            std::fprintf(err, "qirn-scan: unknown option %s\n", arg.c_str());
            return std::nullopt;
        }
    }
    if (!options.help && options.folders.empty()) {
        std::fputs("qirn-scan: no folder to scan\n", err);
        return std::nullopt;
    }
    return options;
}

bool IsFolder(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int RunScanCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    const std::optional<Options> options = ParseArguments(args, err);
    if (!options) {
        std::fputs(kUsage, err);
        return kCannotScan;
    }
    if (options->help) {
        std::fputs(kUsage, out);
        return kNothingFound;
    }
    for (const std::string& folder : options->folders) {
        if (!IsFolder(folder)) {
            std::fprintf(err, "qirn-scan: %s is not a folder\n", folder.c_str());
            return kCannotScan;
        }
    }

    const auto started = std::chrono::steady_clock::now();
    SignatureList signatures;
    const std::filesystem::path signatureFile =
        options->signatures ? std::filesystem::path(*options->signatures) : DefaultSignatureFile();
    try {
        LoadSignatures(signatures, signatureFile);
    } catch (const Failure& failure) {
        std::fprintf(err, "qirn-scan: cannot load signatures: %s\n", failure.description());
        return kCannotScan;
    }

    Silent silent;
    PrintedHits hits(out);
    PrintedProblems problems(err);
    ScanCounter counter(silent);
    const ScanElements elements{signatures, hits, hits, counter, silent, silent, &problems};
    mdlFindFiles::ClearStop();
    for (const std::string& folder : options->folders)
        mdlFindFiles::FindFiles(folder, mdlFindFiles::kAllFiles, mdlFindFiles::kSizeLimit, elements, options->jobs);
    std::fflush(out);

    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::fprintf(err, "Signatures loaded: %zu\n", signatures.Count());
    std::fprintf(err, "Files examined: %llu\n", static_cast<unsigned long long>(counter.Total()));
    std::fprintf(err, "Hits: %llu\n", static_cast<unsigned long long>(hits.Count()));
    std::fprintf(err, "Unreadable: %llu\n", static_cast<unsigned long long>(problems.Count()));
    std::fprintf(err, "Time: %.3f s\n", elapsed.count());
    return hits.Count() > 0 ? kFound : kNothingFound;
}

}  // namespace qirn
