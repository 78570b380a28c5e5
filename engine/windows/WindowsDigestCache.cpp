// The Windows build has no SQLite (Debian ships none for MinGW-w64), so it
// keeps no digests between scans: the cache is never usable, so every scan
// reads every file, and --rematch says it cannot run.

#include "engine/DigestCache.h"
#include "engine/PrivateFile.h"

namespace qirn {

std::filesystem::path DefaultCacheFolder()
{
    return {};
}

PrivateFile PreparePrivateFile(const std::filesystem::path&)
{
    return {false, false, "no digest cache in this build"};
}

DigestCache::DigestCache(Settings settings, Notice notice) : settings_(std::move(settings)), notice_(std::move(notice))
{
}

DigestCache::~DigestCache() = default;

std::vector<CacheRecord> DigestCache::RecordsUnder(const std::string&)
{
    return {};
}

void DigestCache::Store(const std::vector<CacheRecord>&)
{
}

}  // namespace qirn
