#include "cli/DigestCacheUse.h"

#include "cli/ScanCommand.h"
#include "cli/ScanOutput.h"
#include "cli/SignatureSources.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/signatures/SignatureList.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace qirn {

namespace {

class PrintedProblems final : public ScanSink {
public:
    PrintedProblems(ScanOutput& output, std::FILE* err) : output_(output), err_(err) { }

    void Unreadable(const std::string& path, const Failure& failure) override
    {
        ++count;
        std::fprintf(err_, "qirn-scan: cannot read %s (%s)\n", EscapeForText(path).c_str(),
            EscapeForText(FailureReason(failure)).c_str());
        writeFailed |= !output_.Unreadable(path, failure);
    }

    std::uint64_t count = 0;
    bool writeFailed = false;

private:
    ScanOutput& output_;
    std::FILE* err_;
};

int CannotRematch(const std::string& why, std::FILE* err)
{
    std::fprintf(err, "qirn-scan: %s\n", why.c_str());
    return kCannotScan;
}

}  // namespace

KeptDigests::Notice PrintedNotice(std::FILE* err)
{
    return [err](const std::string& text) { std::fprintf(err, "qirn-scan: %s\n", EscapeForText(text).c_str()); };
}

std::unique_ptr<KeptDigests> OpenDigestCache(const ScanOptions& options, KeptDigests::Notice notice)
{
    if (options.noCache || !KeptDigests::Available())
        return nullptr;
    return std::make_unique<KeptDigests>(
        options.cacheFile ? PathFromText(*options.cacheFile) : KeptDigests::DefaultFile(), std::move(notice));
}

int RunRematch(const ScanOptions& options, std::FILE* out, std::FILE* err)
{
    const auto started = std::chrono::steady_clock::now();
    ScanSummary summary;
    summary.started = std::chrono::system_clock::now();
    // The cache keeps digests by folder; a FILE is simply scanned.
    for (const std::string& folder : options.folders) {
        std::error_code error;
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(PathFromText(folder), error)))
            return CannotRematch(
                "--rematch takes folders; scan the file " + EscapeForText(folder) + " without it", err);
    }
    SignatureList signatures;
    if (const auto failure = LoadScanSignatures(signatures, options.signatures, summary.signatureFile, err))
        return CannotRematch("cannot load signatures: " + *failure, err);
    summary.signatures = signatures.Count();
    const std::unique_ptr<KeptDigests> cache = OpenDigestCache(options, PrintedNotice(err));
    if (!cache || !cache->Usable())
        return CannotRematch("--rematch cannot run without the digest cache", err);
    std::fputs("qirn-scan: --rematch checks only the digests kept by earlier scans: files new or changed since "
               "their last scan are not covered\n",
        err);

    const std::unique_ptr<ScanOutput> output = MakeScanOutput(options.format, out);
    PrintedProblems problems(*output, err);
    RematchCounts total;
    for (const std::string& folder : options.folders) {
        const RematchCounts counts = cache->Rematch(
            folder, options.maxSize, signatures,
            [&](const RematchHit& hit) {
                ++summary.counts.hitLines;
                problems.writeFailed |= !output->Hit(TextFromPath(hit.path), hit.signatureName, hit.digests.md5,
                    hit.digests.sha256 ? &*hit.digests.sha256 : nullptr, hit.size);
            },
            problems);
        total.cached += counts.cached;
        total.confirmed += counts.confirmed;
        total.changed += counts.changed;
        total.filled += counts.filled;
        total.tooLarge += counts.tooLarge;
    }
    summary.counts.hit = total.confirmed;
    summary.counts.unreadable = problems.count;
    summary.counts.tooLarge = total.tooLarge;
    // Only what earlier scans kept was looked at.
    summary.complete = false;
    summary.exitStatus = summary.counts.hitLines > 0 ? kFound : kNothingFound;
    summary.ended = std::chrono::system_clock::now();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::fprintf(err, "Signatures loaded: %zu\n", summary.signatures);
    std::fprintf(err, "Cached digests checked: %llu\n", static_cast<unsigned long long>(total.cached));
    std::fprintf(err, "Hits: %llu\n", static_cast<unsigned long long>(summary.counts.hitLines));
    std::fprintf(
        err, "Matched but changed since their last scan: %llu\n", static_cast<unsigned long long>(total.changed));
    if (signatures.HasSha256())
        std::fprintf(err, "Read again for their SHA-256: %llu\n", static_cast<unsigned long long>(total.filled));
    std::fprintf(err, "Larger than --max-size (%ld bytes), not read: %llu\n", static_cast<long>(options.maxSize),
        static_cast<unsigned long long>(total.tooLarge));
    std::fprintf(err, "Unreadable: %llu\n", static_cast<unsigned long long>(problems.count));
    std::fprintf(err, "Time: %.3f s\n", elapsed.count());
    if (problems.writeFailed || !output->Summary(summary))
        return CannotRematch("cannot write to standard output", err);
    return summary.exitStatus;
}

}  // namespace qirn
