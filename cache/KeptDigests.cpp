#include "cache/KeptDigests.h"

#include "cache/DigestCache.h"
#include "cache/ScanCache.h"
#include "engine/platform/PrivateFile.h"

#include <optional>

namespace qirn {

struct KeptDigests::State {
    DigestCache cache;
    std::optional<ScanCache> walk;
};

bool KeptDigests::Available()
{
    return true;
}

std::filesystem::path KeptDigests::DefaultFile()
{
    return DefaultCacheFolder() / kDigestCacheName;
}

KeptDigests::KeptDigests(const std::filesystem::path& file, Notice notice)
    : state_(new State{DigestCache({file}, std::move(notice)), std::nullopt})
{
}

KeptDigests::~KeptDigests() = default;

bool KeptDigests::Usable() const
{
    return state_->cache.Usable();
}

DigestLookup* KeptDigests::BeginWalk(const std::string& folder)
{
    EndWalk();
    if (!state_->cache.Usable())
        return nullptr;
    return &state_->walk.emplace(state_->cache, folder);
}

void KeptDigests::EndWalk()
{
    if (!state_->walk)
        return;
    state_->walk->Finish();
    state_->walk.reset();
}

RematchCounts KeptDigests::Rematch(const std::string& folder, std::int32_t sizeLimit, const SignatureList& signatures,
    const std::function<void(const RematchHit&)>& onHit, ScanSink& sink)
{
    if (!state_->cache.Usable())
        return {};
    return qirn::Rematch(state_->cache, folder, sizeLimit, signatures, onHit, sink);
}

}  // namespace qirn
