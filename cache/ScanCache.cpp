#include "cache/ScanCache.h"

#include "engine/platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
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

// A path's hash, from its folder's (separator included) and its name's, so
// that a walk hashes each folder once.
std::uint64_t PathHash(std::uint64_t folderHash, std::string_view name)
{
    const std::uint64_t nameHash = std::hash<std::string_view>{}(name);
    return folderHash ^ (nameHash + 0x9e3779b97f4a7c15 + (folderHash << 6) + (folderHash >> 2));
}

std::uint64_t PathHash(std::string_view path)
{
    const std::size_t nameStart = NameStart(path);
    return PathHash(std::hash<std::string_view>{}(path.substr(0, nameStart)), path.substr(nameStart));
}

constexpr std::int64_t kSecond = 1'000'000'000;
// Times with a fraction of a second tick at least this finely.
constexpr std::int64_t kFineResolutionNs = 50'000'000;
// Times in whole seconds may come from a file system that keeps two.
constexpr std::int64_t kCoarseResolutionNs = 2 * kSecond;
// The kernel's defaults: pages expire after 30 s, the flusher wakes every 5 s.
constexpr std::int64_t kDefaultDirtyLifetimeNs = 35 * kSecond;
constexpr std::int64_t kNeverNs = INT64_MAX;

}  // namespace

std::int64_t DirtyPageLifetimeNs(
    std::optional<std::int64_t> expireCentiseconds, std::optional<std::int64_t> writebackCentiseconds)
{
    if (!expireCentiseconds || !writebackCentiseconds || *expireCentiseconds < 0 || *writebackCentiseconds < 0)
        return kDefaultDirtyLifetimeNs;
    // Without periodic writeback a page may stay dirty for ever.
    constexpr std::int64_t kLargest = kNeverNs / 20'000'000;
    if (*writebackCentiseconds == 0 || *expireCentiseconds > kLargest || *writebackCentiseconds > kLargest)
        return kNeverNs;
    return (*expireCentiseconds + *writebackCentiseconds) * 10'000'000;
}

std::int64_t DirtyPageLifetimeNs()
{
    const auto centiseconds = [](const char* file) -> std::optional<std::int64_t> {
        std::ifstream in(file);
        std::int64_t value = 0;
        if (in >> value)
            return value;
        return std::nullopt;
    };
    return DirtyPageLifetimeNs(
        centiseconds("/proc/sys/vm/dirty_expire_centisecs"), centiseconds("/proc/sys/vm/dirty_writeback_centisecs"));
}

bool DigestTrusted(const CachedDigest& cached, const FileStamp& now, bool needSha256, std::int64_t settleNs)
{
    if (cached.stamp != now || (needSha256 && !cached.sha256))
        return false;
    const bool coarse = now.modifiedNs % kSecond == 0 && now.changedNs % kSecond == 0;
    const std::int64_t window = std::max(coarse ? kCoarseResolutionNs : kFineResolutionNs, settleNs);
    return cached.readNs - now.changedNs > window;
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

ScanCache::ScanCache(
    DigestCache& cache, const std::string& walkRoot, std::size_t batch, std::optional<std::int64_t> settleNs)
    : cache_(cache),
      walkRoot_(walkRoot),
      cacheRoot_(CacheFolderPath(walkRoot)),
      startNs_(WallClockNs()),
      settleNs_(settleNs ? *settleNs : DirtyPageLifetimeNs()),
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
                    // A digest read in another mount of a file system that can change unmounted is not used.
                    const MountScope& scope = mounts_.Of(row.digest.stamp.identity.device);
                    if (scope.trust == MountTrust::Never ||
                        (scope.trust == MountTrust::ThisMount && row.mount != scope.key))
                        return;
                    entries_.PushBack({{row.digest}, PathHash(row.path), row.seenNs});
                },
                [this](std::size_t atMost) { entries_.Reserve(atMost); })) {
            const auto before = [](const Entry& a, const Entry& b) {
                return Before(a.digest.stamp.identity, b.digest.stamp.identity);
            };
            Entry* const end = entries_.Data() + entries_.Size();
            std::sort(entries_.Data(), end, before);
            identities_.Reserve(entries_.Size());
            for (std::size_t i = 0; i < entries_.Size(); ++i)
                identities_.PushBack(entries_[i].digest.stamp.identity);
        } else {
            entries_ = {};
        }
    } catch (const std::bad_alloc&) {
        // Without them every file is read, as without a cache.
        entries_ = {};
        identities_ = {};
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
    const FileIdentity* const end = identities_.Data() + identities_.Size();
    const FileIdentity* const found = std::lower_bound(identities_.Data(), end, stamp.identity, Before);
    if (found == end || *found != stamp.identity)
        return nullptr;
    const Entry& entry = entries_[static_cast<std::size_t>(found - identities_.Data())];
    return DigestTrusted(entry.digest, stamp, needSha256, settleNs_) ? &entry : nullptr;
}

ScanCache::~ScanCache()
{
    JoinLoader();
    StopWriter();
    cache_.ReplaceNotice(notice_);
}

void ScanCache::Enter(std::string_view folderPath)
{
    if (folderPath == walkFolder_ && !cacheFolder_.empty())
        return;
    walkFolder_.assign(folderPath);
    // The cache names it from the walked folder's real path.
    if (walkRoot_ != cacheRoot_ && folderPath.starts_with(walkRoot_)) {
        cacheFolder_.assign(cacheRoot_);
        cacheFolder_.append(folderPath.substr(walkRoot_.size()));
    } else {
        cacheFolder_.assign(folderPath);
    }
    folderHash_ = std::hash<std::string_view>{}(cacheFolder_);
}

void ScanCache::Read(std::string_view folderPath, std::string_view name, const FileStamp& stamp, std::int64_t readNs,
    const FileDigests& digests)
{
    if (noticed_)
        TellNotices();
    if (!usable_)
        return;
    Enter(folderPath);
    Hold({name, {stamp, readNs, digests.md5, digests.sha256}, startNs_, mounts_.Of(stamp.identity.device).key});
}

void ScanCache::Reused(std::string_view folderPath, std::string_view name, const Kept& kept)
{
    // Trusted hands out only its own entries.
    const auto& entry = static_cast<const Entry&>(kept);
    if (noticed_)
        TellNotices();
    if (!usable_)
        return;
    Enter(folderPath);
    // Each name of a hard-linked file has an entry of its own, next to the others.
    const std::uint64_t pathHash = PathHash(folderHash_, name);
    for (auto i = static_cast<std::size_t>(&entry - entries_.Data());
         i < entries_.Size() && entries_[i].digest.stamp.identity == entry.digest.stamp.identity; ++i) {
        if (entries_[i].pathHash == pathHash && startNs_ - entries_[i].seenNs < kSeenRefreshNs)
            return;
    }
    Hold({name, entry.digest, startNs_, mounts_.Of(entry.digest.stamp.identity.device).key});
}

void ScanCache::Hold(const CachedFile& file)
{
    gatherer_.Add(cacheFolder_, file, pending_);
    if (pending_.Files() >= batch_)
        Hand();
}

void ScanCache::Hand()
{
    JoinLoader();
    std::unique_lock lock(mutex_);
    if (!writer_.joinable())
        writer_ = std::thread([this] { Write(); });
    changed_.wait(lock, [this] { return batches_.size() < kBatchesWaiting; });
    batches_.push_back(std::move(pending_));
    if (!spare_.empty()) {
        pending_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        pending_ = {};
    }
    changed_.notify_all();
}

void ScanCache::Write()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !batches_.empty() || finishing_; });
        if (batches_.empty())
            return;
        FolderRuns batch = std::move(batches_.front());
        batches_.pop_front();
        changed_.notify_all();
        lock.unlock();
        cache_.Store(batch);
        usable_ = cache_.Usable();
        batch.Clear();
        lock.lock();
        spare_.push_back(std::move(batch));
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
    gatherer_.LeaveAll(pending_);
    if (pending_.Files() != 0)
        Hand();
    StopWriter();
    TellNotices();
}

}  // namespace qirn
