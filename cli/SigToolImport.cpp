#include "cli/SigToolImport.h"

#include "cli/HashListImport.h"
#include "cli/SigTool.h"
#include "cli/SignatureDedup.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/platform/SaveFile.h"
#include "engine/scan/FindFiles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace qirn {

namespace {

constexpr std::uintmax_t kReserveLimit = std::uintmax_t{1} << 30;

void PrintReport(std::FILE* err, const std::string& file, const ImportReport& report)
{
    if (report.error) {
        std::fprintf(err, "%s: %s\n", file.c_str(), report.error->c_str());
        return;
    }
    std::fprintf(err, "%s: %s list, %llu accepted, %llu rejected\n", file.c_str(),
        std::string(HashListFormatName(report.format)).c_str(), static_cast<unsigned long long>(report.accepted),
        static_cast<unsigned long long>(report.rejected));
    for (const RejectedLine& line : report.firstRejected)
        std::fprintf(err, "  line %llu: %s\n", static_cast<unsigned long long>(line.lineNumber), line.reason.c_str());
    if (report.rejected > report.firstRejected.size())
        std::fprintf(err, "  ... and %llu more\n",
            static_cast<unsigned long long>(report.rejected - report.firstRejected.size()));
}

void PrintNotes(std::FILE* err, std::uint64_t trivial, const SignatureDedup& seen, std::uint64_t largest)
{
    const auto count = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
    if (trivial > 0)
        std::fprintf(err,
            "qirn-sigtool: warning: %llu digests of the empty file left out: under any name they make every "
            "empty file a hit (--keep-trivial keeps them)\n",
            count(trivial));
    if (seen.NamesLeftOut() > 0)
        std::fprintf(err, "qirn-sigtool: %llu names left out: a digest keeps at most %zu\n", count(seen.NamesLeftOut()),
            SignatureDedup::kMaxNames);
    if (seen.LargeDigests() > 0)
        std::fprintf(err,
            "qirn-sigtool: %llu signatures are for files larger than %d bytes, which a scan skips by default; "
            "to examine them, scan with --max-size %llu\n",
            count(seen.LargeDigests()), static_cast<int>(mdlFindFiles::kSizeLimit),
            count(std::min<std::uint64_t>(largest, mdlFindFiles::kLargestSizeLimit)));
}

}  // namespace

int RunImport(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    std::optional<HashListFormat> format;
    std::optional<std::string> output;
    std::vector<std::string> files;
    bool keepTrivial = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--format" || args[i] == "-f") && i + 1 < args.size()) {
            format = HashListFormatNamed(args[++i]);
            if (!format) {
                return UsageError(err, "unknown format " + args[i] + " (known: " + HashListFormatNames() + ")");
            }
        } else if ((args[i] == "--output" || args[i] == "-o") && i + 1 < args.size()) {
            output = args[++i];
        } else if (args[i] == "--keep-trivial") {
            keepTrivial = true;
        } else if (args[i].starts_with('-') && args[i] != "-") {
            return UsageError(err, "import: unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty())
        return UsageError(err, "import needs at least one LIST");

    // Into the output file only when every list was read: built in memory (the
    // duplicate check holds as much) and saved in one step.
    std::string content;
    if (output) {
        // sa.kvd is about as long as the lists: room for it at once spares
        // copying it over and over as it grows.
        std::uintmax_t total = 0;
        for (const std::string& file : files) {
            std::error_code error;
            const std::uintmax_t size = std::filesystem::file_size(PathFromText(file), error);
            total += error ? 0 : size;
        }
        // At most kReserveLimit: a sparse or enormous list must not cost
        // memory before its lines do, and a refusal only means growing later.
        try {
            content.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(total, kReserveLimit)));
        } catch (const std::bad_alloc&) {
        }
    }
    std::uint64_t written = 0;
    std::uint64_t trivial = 0;
    std::uint64_t largest = 0;
    bool failed = false;
    const auto refuse = [&](const char* why) {
        std::fprintf(err, "qirn-sigtool: %s\n", why);
        if (output)
            std::fprintf(err, "qirn-sigtool: %s left unchanged\n", output->c_str());
        return 2;
    };
    SignatureDedup seen;
    try {
        for (const std::string& file : files) {
            const ImportReport report = ImportHashList(file, format, [&](const ImportedSignature& signature) {
                if (!keepTrivial && IsTrivialDigest(signature.digestText)) {
                    ++trivial;
                    return;
                }
                const std::uint64_t size = signature.size.value_or(0);
                largest = std::max(largest, size);
                seen.Add(signature.digestText, signature.name, size > std::uint64_t{mdlFindFiles::kSizeLimit});
            });
            PrintReport(err, file, report);
            failed = failed || report.error.has_value();
        }
        seen.Finish([&](std::string_view digestText, std::string_view names) {
            if (output) {
                content.append(digestText).append(1, '=').append(names).append("\r\n");
            } else {
                std::fwrite(digestText.data(), 1, digestText.size(), out);
                std::fputc('=', out);
                std::fwrite(names.data(), 1, names.size(), out);
                std::fputs("\r\n", out);
            }
            ++written;
        });
    } catch (const std::bad_alloc&) {
        return refuse("not enough memory for the signatures");
    } catch (const std::length_error& error) {
        return refuse(error.what());
    }
    if (!output && (std::fflush(out) != 0 || std::ferror(out) != 0)) {
        std::fprintf(err, "qirn-sigtool: writing the signatures failed: %s\n", ErrorText(errno).c_str());
        return 2;
    }
    if (output) {
        const SaveResult saved = failed ? SaveResult{} : SaveFileContent(PathFromText(*output), content);
        if (failed || !saved.Ok()) {
            if (!saved.Ok())
                std::fprintf(err, "qirn-sigtool: %s\n", saved.Describe().c_str());
            std::fprintf(err, "qirn-sigtool: %s left unchanged\n", output->c_str());
            return 2;
        }
    }
    std::fprintf(err, "%llu signatures written\n", static_cast<unsigned long long>(written));
    PrintNotes(err, trivial, seen, largest);
    return failed ? 2 : 0;
}

}  // namespace qirn
