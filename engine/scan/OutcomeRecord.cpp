#include "engine/scan/OutcomeRecord.h"

#include "engine/platform/Platform.h"
#include "engine/signatures/SignatureList.h"

namespace qirn {

void OutcomeRecord::Record(std::string_view folderPath, std::string_view name, const FileOutcome& outcome)
{
    ScanSink& sink = request_.sink;
    switch (outcome.kind) {
    case FileOutcome::Kind::TooLong:
        sink.TooLarge(folderPath, name);
        return;
    case FileOutcome::Kind::Failed:
        // Replaced by a link, FIFO or device after it was listed.
        if (outcome.failure->number() == kNotRegularFile)
            sink.NotRegular(folderPath, name);
        else
            sink.Unreadable(std::string(folderPath).append(name), *outcome.failure);
        return;
    case FileOutcome::Kind::Examined:
        break;
    }
    hits_.clear();
    if (outcome.digested) {
        if (DigestLookup* cache = request_.cache; cache != nullptr) {
            if (outcome.cached != nullptr)
                cache->Reused(folderPath, name, *outcome.cached);
            else
                cache->Read(folderPath, name, outcome.stamp, outcome.readNs, outcome.digests);
        }
        request_.signatures.ForEachMatch(
            outcome.digests, [this](std::string_view signatureName) { hits_.push_back(signatureName); });
    }
    sink.Examined({folderPath, name, outcome.size, outcome.identity, outcome.digested ? &outcome.digests.md5 : nullptr,
        outcome.digested && outcome.digests.sha256 ? &*outcome.digests.sha256 : nullptr, hits_, outcome.accessedNs});
}

}  // namespace qirn
