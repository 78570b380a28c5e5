#pragma once

// The digest cache as one walk uses it: what is cached for the walked folder
// is read in one query on a thread of its own while the walk begins, the
// examiners look digests up in memory on any thread, and what the walk read
// is written back in batches by another thread while the walk goes on.

#include "cache/DigestCache.h"
#include "cache/MountScope.h"
#include "engine/GrowingArray.h"
#include "engine/scan/DigestLookup.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qirn {

// A folder as the cache names it: absolute, links resolved, with a trailing separator.
std::string CacheFolderPath(const std::string& folder);

class ScanCache final : public DigestLookup {
public:
    struct Entry : Kept {
        std::uint64_t pathHash = 0;
        std::int64_t seenNs = 0;
    };

    // walkRoot is the folder as the walk names it; the cache keeps absolute paths.
    // The cache is this object's alone until it is destroyed: its loader's,
    // then its writer's, which gets records batch at a time.
    // settleNs: how long after its last change a file's digest may be trusted
    // (DirtyPageLifetimeNs() when not given).
    ScanCache(DigestCache& cache, const std::string& walkRoot, std::size_t batch = 8192,
        std::optional<std::int64_t> settleNs = std::nullopt);
    ScanCache(const ScanCache&) = delete;
    ScanCache& operator=(const ScanCache&) = delete;
    ~ScanCache() override;

    // Any thread. Loading is true until the cached entries are in; the
    // others wait for them.
    bool Loading() const override { return !loaded_.load(std::memory_order_acquire); }
    bool Empty() const override { return Loaded() == 0; }
    const Entry* Trusted(const FileStamp& stamp, bool needSha256) const override;
    std::size_t Loaded() const
    {
        AwaitLoad();
        return entries_.Size();
    }

    // The walk thread, as outcomes are recorded; the file's folder as the walk names it.
    void Read(std::string_view folderPath, std::string_view name, const FileStamp& stamp, std::int64_t readNs,
        const FileDigests& digests) override;
    void Reused(std::string_view folderPath, std::string_view name, const Kept& kept) override;
    // Writes back what is still held and waits until all is written; what the
    // cache had to say meanwhile is told here, on the walk thread.
    void Finish();

private:
    void Load();
    void AwaitLoad() const
    {
        // Checked first: wait() is a call, and a rescan asks once for every file.
        if (!loaded_.load(std::memory_order_acquire))
            loaded_.wait(false, std::memory_order_acquire);
    }
    void JoinLoader();
    // Makes folderPath, as the walk names it, the folder of the next files.
    void Enter(std::string_view folderPath);
    void Hold(const CachedFile& file);
    void Hand();
    void Write();
    void StopWriter();
    void TellNotices();

    DigestCache& cache_;
    MountScopes mounts_;
    std::string walkRoot_;
    std::string cacheRoot_;
    std::int64_t startNs_;
    std::int64_t settleNs_;
    std::size_t batch_;
    GrowingArray<Entry> entries_;  // sorted by identity, once loaded
    // The entries' identities alone: searched in an eighth of the memory.
    GrowingArray<FileIdentity> identities_;
    std::atomic<bool> loaded_ = false;
    std::thread loader_;
    FolderGatherer gatherer_;
    FolderRuns pending_;       // folders the walk has left
    std::string walkFolder_;   // the last folder of Read or Reused, as the walk names it
    std::string cacheFolder_;  // the same as the cache names it
    std::uint64_t folderHash_ = 0;

    std::atomic<bool> usable_;
    DigestCache::Notice notice_;  // the cache's own, told on the walk thread
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FolderRuns> batches_;
    std::vector<FolderRuns> spare_;  // written batches, their memory kept
    std::vector<std::string> notices_;
    std::atomic<bool> noticed_ = false;
    bool finishing_ = false;
    std::thread writer_;
};

}  // namespace qirn
