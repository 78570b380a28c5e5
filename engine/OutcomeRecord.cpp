#include "engine/OutcomeRecord.h"

#include "engine/Platform.h"
#include "engine/SignatureList.h"

#include <string_view>

namespace qirn {

namespace {

#if QIRN_DIGEST_CACHE
void RememberDigest(const ScanElements& elements, const ExaminerPool::Done& done)
{
    ScanCache* cache = elements.cache;
    if (cache == nullptr)
        return;
    std::string path = done.folderPath + done.name;
    const FileOutcome& outcome = done.outcome;
    if (outcome.cached != nullptr)
        cache->Reused(std::move(path), *outcome.cached);
    else
        cache->Read(std::move(path), outcome.stamp, outcome.readNs, outcome.digests);
}
#endif

void RecordHit(const ScanElements& elements, const ExaminerPool::Done& done, std::string_view signatureName)
{
    elements.infections.AddHit({std::string(signatureName), PathFromText(done.folderPath + done.name),
        done.outcome.identity, done.outcome.digests.md5});
    std::string line = "\r\nFile ";
    line += done.name;
    line += " was detected as ";
    line += signatureName;
    elements.report.Append(line);
}

}  // namespace

void RecordOutcome(const ScanElements& elements, const ExaminerPool::Done& done)
{
    const FileOutcome& outcome = done.outcome;
    ProblemLog* const log = elements.problems;
    switch (outcome.kind) {
    case FileOutcome::Kind::TooLong:
        if (log != nullptr)
            log->TooLarge(done.folderPath, done.name);
        return;
    case FileOutcome::Kind::Failed:
        // Replaced by a link, FIFO or device after it was listed.
        if (log != nullptr && outcome.failure->number() == kNotRegularFile)
            log->NotRegular(done.folderPath, done.name);
        else
            ReportUnreadable(elements, done.folderPath + done.name, *outcome.failure);
        return;
    case FileOutcome::Kind::Examined:
        break;
    }
    std::size_t hits = 0;
    if (outcome.digested) {
#if QIRN_DIGEST_CACHE
        RememberDigest(elements, done);
#endif
        elements.signatures.ForEachMatch(outcome.digests, [&](std::string_view signatureName) {
            RecordHit(elements, done, signatureName);
            ++hits;
        });
    }
    elements.counter.Advance(done.name);
    if (log != nullptr)
        log->Examined({done.folderPath, done.name, outcome.size, outcome.digested ? &outcome.digests.md5 : nullptr,
            outcome.digested && outcome.digests.sha256 ? &*outcome.digests.sha256 : nullptr, hits});
}

void ReportUnreadable(const ScanElements& elements, const std::string& path, const Failure& failure)
{
    if (elements.problems != nullptr)
        elements.problems->Unreadable(path, failure);
}

}  // namespace qirn
