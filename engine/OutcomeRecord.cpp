#include "engine/OutcomeRecord.h"

#include "engine/Platform.h"
#include "engine/SignatureList.h"

#include <string_view>

namespace qirn {

namespace {

// A file examined, as the walk names it.
struct Examined {
    std::string_view folderPath;
    std::string_view name;
    const FileOutcome& outcome;

    std::string Path() const { return std::string(folderPath).append(name); }
};

#if QIRN_DIGEST_CACHE
void RememberDigest(const ScanElements& elements, const Examined& file)
{
    ScanCache* cache = elements.cache;
    if (cache == nullptr)
        return;
    const FileOutcome& outcome = file.outcome;
    if (outcome.cached != nullptr)
        cache->Reused(file.folderPath, file.name, *outcome.cached);
    else
        cache->Read(file.folderPath, file.name, outcome.stamp, outcome.readNs, outcome.digests);
}
#endif

void RecordHit(const ScanElements& elements, const Examined& file, std::string_view signatureName)
{
    elements.infections.AddHit(
        {std::string(signatureName), PathFromText(file.Path()), file.outcome.identity, file.outcome.digests.md5});
    std::string line = "\r\nFile ";
    line += file.name;
    line += " was detected as ";
    line += signatureName;
    elements.report.Append(line);
}

}  // namespace

void RecordOutcome(
    const ScanElements& elements, std::string_view folderPath, std::string_view name, const FileOutcome& outcome)
{
    const Examined file{folderPath, name, outcome};
    ProblemLog* const log = elements.problems;
    switch (outcome.kind) {
    case FileOutcome::Kind::TooLong:
        if (log != nullptr)
            log->TooLarge(folderPath, name);
        return;
    case FileOutcome::Kind::Failed:
        // Replaced by a link, FIFO or device after it was listed.
        if (log != nullptr && outcome.failure->number() == kNotRegularFile)
            log->NotRegular(folderPath, name);
        else
            ReportUnreadable(elements, file.Path(), *outcome.failure);
        return;
    case FileOutcome::Kind::Examined:
        break;
    }
    std::size_t hits = 0;
    if (outcome.digested) {
#if QIRN_DIGEST_CACHE
        RememberDigest(elements, file);
#endif
        elements.signatures.ForEachMatch(outcome.digests, [&](std::string_view signatureName) {
            RecordHit(elements, file, signatureName);
            ++hits;
        });
    }
    elements.counter.Advance(name);
    if (log != nullptr)
        log->Examined({folderPath, name, outcome.size, outcome.digested ? &outcome.digests.md5 : nullptr,
            outcome.digested && outcome.digests.sha256 ? &*outcome.digests.sha256 : nullptr, hits});
}

void ReportUnreadable(const ScanElements& elements, const std::string& path, const Failure& failure)
{
    if (elements.problems != nullptr)
        elements.problems->Unreadable(path, failure);
}

}  // namespace qirn
