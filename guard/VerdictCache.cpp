#include "guard/VerdictCache.h"

#include "cache/DigestCache.h"

namespace qirn {

VerdictCache::VerdictCache(std::int64_t settleNs, std::size_t maxEntries) : settleNs_(settleNs), maxEntries_(maxEntries)
{
}

std::optional<FileDigests> VerdictCache::Trusted(const FileStamp& stamp, bool needSha256) const
{
    const std::lock_guard lock(mutex_);
    const auto found = kept_.find(stamp.identity);
    if (found == kept_.end() || !DigestTrusted(found->second, stamp, needSha256, settleNs_))
        return std::nullopt;
    return FileDigests{found->second.md5, found->second.sha256};
}

void VerdictCache::Keep(const CachedDigest& digest)
{
    const std::lock_guard lock(mutex_);
    // Full: start afresh rather than track ages; a miss costs one read.
    if (kept_.size() >= maxEntries_ && !kept_.contains(digest.stamp.identity))
        kept_.clear();
    kept_.insert_or_assign(digest.stamp.identity, digest);
}

std::size_t VerdictCache::Size() const
{
    const std::lock_guard lock(mutex_);
    return kept_.size();
}

}  // namespace qirn
