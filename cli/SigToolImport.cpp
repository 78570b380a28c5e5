#include "cli/SigToolImport.h"

#include "cli/HashListImport.h"
#include "cli/SignatureDedup.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <vector>

namespace qirn {

namespace {

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

}  // namespace

int RunImport(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    std::optional<HashListFormat> format;
    std::optional<std::string> output;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--format" || args[i] == "-f") && i + 1 < args.size()) {
            format = HashListFormatNamed(args[++i]);
            if (!format) {
                std::fprintf(err, "qirn-sigtool: unknown format %s (known: %s)\n", args[i].c_str(),
                    HashListFormatNames().c_str());
                return 2;
            }
        } else if ((args[i] == "--output" || args[i] == "-o") && i + 1 < args.size()) {
            output = args[++i];
        } else if (args[i].starts_with('-') && args[i] != "-") {
            std::fprintf(err, "qirn-sigtool: import: unknown option %s\n", args[i].c_str());
            return 2;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        std::fputs("qirn-sigtool: import needs at least one FILE\n", err);
        return 2;
    }

    // Written beside the output and renamed over it only when every list was read.
    std::string temporary;
    std::FILE* sink = out;
    if (output) {
        temporary = *output + ".XXXXXX";
        const int fd = ::mkstemp(temporary.data());
        sink = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (sink != nullptr)
            std::setvbuf(sink, nullptr, _IOFBF, std::size_t{1} << 16);
        if (sink == nullptr) {
            std::fprintf(err, "qirn-sigtool: cannot write beside %s: %s\n", output->c_str(), std::strerror(errno));
            return 2;
        }
    }

    SignatureDedup seen;
    bool failed = false;
    std::uint64_t written = 0;
    for (const std::string& file : files) {
        const ImportReport report = ImportHashList(file, format, [&](const ImportedSignature& signature) {
            if (!seen.Insert(signature.digestText, signature.name))
                return;
            std::fwrite(signature.digestText.data(), 1, signature.digestText.size(), sink);
            std::fputc('=', sink);
            std::fwrite(signature.name.data(), 1, signature.name.size(), sink);
            std::fputs("\r\n", sink);
            ++written;
        });
        PrintReport(err, file, report);
        failed = failed || report.error.has_value();
    }
    const bool writeFailed = std::fflush(sink) != 0 || std::ferror(sink) != 0 ||
        (output && (::fsync(::fileno(sink)) != 0 || std::fclose(sink) != 0));
    if (writeFailed)
        std::fprintf(err, "qirn-sigtool: writing the signatures failed: %s\n", std::strerror(errno));
    if (output) {
        if (failed || writeFailed || std::rename(temporary.c_str(), output->c_str()) != 0) {
            std::remove(temporary.c_str());
            if (!failed && !writeFailed)
                std::fprintf(err, "qirn-sigtool: cannot replace %s: %s\n", output->c_str(), std::strerror(errno));
            std::fprintf(err, "qirn-sigtool: %s left unchanged\n", output->c_str());
            return 2;
        }
    }
    std::fprintf(err, "%llu signatures written\n", static_cast<unsigned long long>(written));
    return failed || writeFailed ? 2 : 0;
}

}  // namespace qirn
