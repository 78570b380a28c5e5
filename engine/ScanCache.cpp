#include "engine/ScanCache.h"

#include "engine/Platform.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <new>
#include <string_view>
#include <system_error>

namespace qirn {

namespace {

// A reused entry's path and last-seen time are written again only when the
// file moved or its time is this old, so that a rescan writes almost nothing.
constexpr std::int64_t kSeenRefreshNs = std::int64_t{24} * 3600 * 1'000'000'000;
// The walk waits while this many batches wait for the writer.
constexpr std::size_t kBatchesWaiting = 2;

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

ScanCache::ScanCache(DigestCache& cache, const std::string& walkRoot, std::size_t batch)
    : cache_(cache),
      walkRoot_(walkRoot),
      cacheRoot_(CacheFolderPath(walkRoot)),
      startNs_(WallClockNs()),
      batch_(std::max<std::size_t>(batch, 1)),
      usable_(cache.Usable())
{
    if (walkRoot_.empty() || walkRoot_.back() != kPathSeparator)
        walkRoot_ += kPathSeparator;
    // What the cache says from its other threads waits for the walk thread.
    notice_ = cache_.ReplaceNotice([this](const std::string& text) {
        const std::lock_guard held(mutex_);
        notices_.push_back(text);
        noticed_ = true;
    });
    if (!usable_) {
        loaded_ = true;
        return;
    }
    loader_ = std::thread([this] { Load(); });
}

void ScanCache::Load()
{
    try {
        if (cache_.VisitUnder(
                cacheRoot_,
                [this](const DigestCache::RecordView& row) {
                    entries_.PushBack({row.digest, PathHash(row.path), row.seenNs});
                },
                [this](std::size_t atMost) { entries_.Reserve(atMost); }))
            std::sort(entries_.Data(), entries_.Data() + entries_.Size(), [](const Entry& a, const Entry& b) {
                return Before(a.digest.stamp.identity, b.digest.stamp.identity);
            });
        else
            entries_ = {};
    } catch (const std::bad_alloc&) {
        // Without them every file is read, as without a cache.
        entries_ = {};
    }
    usable_ = cache_.Usable();
    loaded_.store(true, std::memory_order_release);
    loaded_.notify_all();
}

void ScanCache::JoinLoader()
{
    if (loader_.joinable())
        loader_.join();
}

const ScanCache::Entry* ScanCache::Trusted(const FileStamp& stamp, bool needSha256) const
{
    AwaitLoad();
    const Entry* end = entries_.Data() + entries_.Size();
    const Entry* found = std::lower_bound(entries_.Data(), end, stamp.identity,
        [](const Entry& entry, const FileIdentity& identity) { return Before(entry.digest.stamp.identity, identity); });
    if (found == end || found->digest.stamp.identity != stamp.identity ||
        !DigestTrusted(found->digest, stamp, needSha256))
        return nullptr;
    return found;
}

std::string ScanCache::CachePath(std::string path) const
{
    if (walkRoot_ != cacheRoot_ && path.starts_with(walkRoot_))
        path.replace(0, walkRoot_.size(), cacheRoot_);
    return path;
}

ScanCache::~ScanCache()
{
    JoinLoader();
    StopWriter();
    cache_.ReplaceNotice(notice_);
}

void ScanCache::Read(std::string path, const FileStamp& stamp, std::int64_t readNs, const FileDigests& digests)
{
    if (noticed_)
        TellNotices();
    if (!usable_)
        return;
    Hold({CachePath(std::move(path)), {stamp, readNs, digests.md5, digests.sha256}, startNs_});
}

void ScanCache::Reused(std::string path, const Entry& entry)
{
    if (noticed_)
        TellNotices();
    if (!usable_)
        return;
    std::string cachePath = CachePath(std::move(path));
    if (startNs_ - entry.seenNs < kSeenRefreshNs && PathHash(cachePath) == entry.pathHash)
        return;
    Hold({std::move(cachePath), entry.digest, startNs_});
}

void ScanCache::Hold(CacheRecord record)
{
    // Reserved once a batch: growing a vector of records moves every path it holds.
    if (pending_.capacity() == 0)
        pending_.reserve(batch_);
    pending_.push_back(std::move(record));
    if (pending_.size() >= batch_)
        Hand(std::exchange(pending_, {}));
}

void ScanCache::Hand(std::vector<CacheRecord> batch)
{
    JoinLoader();
    std::unique_lock lock(mutex_);
    if (!writer_.joinable())
        writer_ = std::thread([this] { Write(); });
    changed_.wait(lock, [this] { return batches_.size() < kBatchesWaiting; });
    batches_.push_back(std::move(batch));
    changed_.notify_all();
}

void ScanCache::Write()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !batches_.empty() || finishing_; });
        if (batches_.empty())
            return;
        const std::vector<CacheRecord> batch = std::move(batches_.front());
        batches_.pop_front();
        changed_.notify_all();
        lock.unlock();
        cache_.Store(batch);
        usable_ = cache_.Usable();
        lock.lock();
    }
}

void ScanCache::StopWriter()
{
    if (!writer_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    writer_.join();
    finishing_ = false;
}

void ScanCache::TellNotices()
{
    std::vector<std::string> told;
    {
        const std::lock_guard lock(mutex_);
        told.swap(notices_);
        noticed_ = false;
    }
    for (const std::string& text : told) {
        if (notice_)
            notice_(text);
    }
}

void ScanCache::Finish()
{
    JoinLoader();
    if (!pending_.empty())
        Hand(std::exchange(pending_, {}));
    StopWriter();
    TellNotices();
}

}  // namespace qirn
