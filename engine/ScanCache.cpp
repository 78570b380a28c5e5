#include "engine/ScanCache.h"

#include "engine/Platform.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string_view>
#include <system_error>

namespace qirn {

namespace {

// A reused entry's path and last-seen time are written again only when the
// file moved or its time is this old, so that a rescan writes almost nothing.
constexpr std::int64_t kSeenRefreshNs = std::int64_t{24} * 3600 * 1'000'000'000;
constexpr std::size_t kMaxPending = 65536;

bool Before(const FileIdentity& a, const FileIdentity& b)
{
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
}

std::uint64_t PathHash(std::string_view path)
{
    return std::hash<std::string_view>{}(path);
}

constexpr std::int64_t kSecond = 1'000'000'000;
// Times with a fraction of a second tick at least this finely.
constexpr std::int64_t kFineResolutionNs = 50'000'000;
// Times in whole seconds may come from a file system that keeps two.
constexpr std::int64_t kCoarseResolutionNs = 2 * kSecond;

}  // namespace

std::int64_t WallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool DigestTrusted(const CachedDigest& cached, const FileStamp& now, bool needSha256)
{
    if (cached.stamp != now || (needSha256 && !cached.sha256))
        return false;
    const bool coarse = now.modifiedNs % kSecond == 0 && now.changedNs % kSecond == 0;
    return cached.readNs - now.changedNs > (coarse ? kCoarseResolutionNs : kFineResolutionNs);
}

std::string CacheFolderPath(const std::string& folder)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::canonical(PathFromText(folder), error);
    if (error)
        absolute = std::filesystem::absolute(PathFromText(folder), error).lexically_normal();
    std::string text = TextFromPath(absolute);
    if (text.empty() || text.back() != kPathSeparator)
        text += kPathSeparator;
    return text;
}

ScanCache::ScanCache(DigestCache& cache, const std::string& walkRoot)
    : cache_(cache), walkRoot_(walkRoot), cacheRoot_(CacheFolderPath(walkRoot)), startNs_(WallClockNs())
{
    if (walkRoot_.empty() || walkRoot_.back() != kPathSeparator)
        walkRoot_ += kPathSeparator;
    if (!cache_.VisitUnder(cacheRoot_, [this](const DigestCache::RecordView& row) {
            entries_.push_back({row.digest, PathHash(row.path), row.seenNs});
        }))
        entries_.clear();
    std::sort(entries_.begin(), entries_.end(),
        [](const Entry& a, const Entry& b) { return Before(a.digest.stamp.identity, b.digest.stamp.identity); });
}

const ScanCache::Entry* ScanCache::Trusted(const FileStamp& stamp, bool needSha256) const
{
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), stamp.identity,
        [](const Entry& entry, const FileIdentity& identity) { return Before(entry.digest.stamp.identity, identity); });
    if (found == entries_.end() || found->digest.stamp.identity != stamp.identity ||
        !DigestTrusted(found->digest, stamp, needSha256))
        return nullptr;
    return &*found;
}

std::string ScanCache::CachePath(const std::string& path) const
{
    if (!path.starts_with(walkRoot_))
        return path;
    return cacheRoot_ + path.substr(walkRoot_.size());
}

void ScanCache::Read(const std::string& path, const FileStamp& stamp, std::int64_t readNs, const FileDigests& digests)
{
    if (!cache_.Usable())
        return;
    Hold({CachePath(path), {stamp, readNs, digests.md5, digests.sha256}, startNs_});
}

void ScanCache::Reused(const std::string& path, const Entry& entry)
{
    if (!cache_.Usable())
        return;
    std::string cachePath = CachePath(path);
    if (startNs_ - entry.seenNs < kSeenRefreshNs && PathHash(cachePath) == entry.pathHash)
        return;
    Hold({std::move(cachePath), entry.digest, startNs_});
}

void ScanCache::Hold(CacheRecord record)
{
    // Reserved once: growing a vector of records moves every path it holds.
    if (pending_.capacity() == 0)
        pending_.reserve(kMaxPending);
    pending_.push_back(std::move(record));
    if (pending_.size() >= kMaxPending)
        Finish();
}

void ScanCache::Finish()
{
    cache_.Store(pending_);
    pending_.clear();
}

}  // namespace qirn
