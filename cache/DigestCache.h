#pragma once

// Digests of files kept between scans in an SQLite database, a row per
// folder holding its files (cache/FolderBlob.h), so that a rescan need not
// read a file that has not changed.
// Nothing here can change a scan's result: when the database cannot be used
// the cache turns itself off and says why once.

#include "cache/FolderBlob.h"
#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"
#include "engine/scan/DigestLookup.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qirn {

// A cached digest stands for the file now stamped so only when the file is
// the same (device, inode, size, both times) and its change time was older
// than the read by more than the file system's time resolution, and by more
// than settleNs; otherwise a change in the same tick as the read could hide
// behind equal times.
bool DigestTrusted(const CachedDigest& cached, const FileStamp& now, bool needSha256, std::int64_t settleNs);

// Once a page written through a shared mapping is dirty, further writes to
// it change no time of the file until the kernel writes the page back: the
// longest a page may stay dirty (dirty_expire_centisecs plus
// dirty_writeback_centisecs), or INT64_MAX where periodic writeback is off.
std::int64_t DirtyPageLifetimeNs();
// The same from the two settings; 35 s (the kernel's defaults) when unknown.
std::int64_t DirtyPageLifetimeNs(
    std::optional<std::int64_t> expireCentiseconds, std::optional<std::int64_t> writebackCentiseconds);

// The name of the cache file in the default cache folder.
inline constexpr std::string_view kDigestCacheName = "digests.sqlite";

struct CacheRecord {
    std::string path;  // where the file was seen, absolute
    CachedDigest digest;
    std::int64_t seenNs = 0;
    std::string mount;  // the mount the digest holds in (MountScope::key); empty: any
};

class DigestCache {
public:
    struct Settings {
        std::filesystem::path file;
        std::chrono::milliseconds lockWait{3000};
        std::size_t maxEntries = 2'000'000;
        std::chrono::seconds maxAge{std::chrono::hours(24 * 30)};
        // A folder whose row would be longer (some 2.8 million files) is not
        // kept: SQLite refuses rows over 1 GB, and holding it costs memory.
        std::size_t maxFolderBytes = std::size_t{256} << 20;
    };
    // Told once, when the cache stops being used or was rebuilt.
    using Notice = std::function<void(const std::string&)>;

    DigestCache(Settings settings, Notice notice);
    DigestCache(const DigestCache&) = delete;
    DigestCache& operator=(const DigestCache&) = delete;
    ~DigestCache();

    bool Usable() const { return db_ != nullptr; }
    // Who is told from now on; returns who was.
    Notice ReplaceNotice(Notice notice) { return std::exchange(notice_, std::move(notice)); }
    const std::filesystem::path& File() const { return settings_.file; }

    // A record as a query returns it; path is valid only during the call.
    struct RecordView {
        std::string_view path;
        const CachedDigest& digest;
        std::int64_t seenNs;
        std::string_view mount;
    };
    // Calls visit for every record whose path lies under folder (absolute,
    // any trailing separator), in no set order, without copying the rows;
    // expect first learns how many there are at most. False when the cache
    // could not be read to the end: what was visited then must not be used.
    bool VisitUnder(const std::string& folder, const std::function<void(const RecordView&)>& visit,
        const std::function<void(std::size_t)>& expect = {});
    // Adds or replaces records in one transaction, then drops the entries
    // beyond the age and size bounds, oldest first. Records are best given
    // in the order of a walk: each folder is then written once.
    void Store(const std::vector<CacheRecord>& records);
    void Store(const FolderRuns& runs);

private:
    static constexpr int kSchemaVersion = 3;

    bool Open();
    // Sets version to the file's schema version.
    bool OpenDatabase(int& version);
    bool Prepare();
    // Within a transaction: moves the rows of an earlier version into folders, and commits.
    bool CarryOver(int version);
    bool CarryRowsOver(int version);
    // Within a transaction: merges the files into their folders' rows.
    bool WriteRuns(const FolderRuns& runs, std::int64_t nowNs);
    bool WriteFolder(const FolderRun& run, std::int64_t oldestSeenNs);
    bool PutFolder(std::string_view folder, std::string_view files, std::size_t count, std::int64_t newestSeenNs);
    void Close();
    bool Exec(const char* sql);
    // Turns the cache off (or rebuilds a damaged one) after an SQLite error.
    void Fail(int code, std::string_view during);
    void Tell(const std::string& text);
    void Prune(std::int64_t nowNs, std::size_t stored);
    // Within a transaction: drops the least recently seen files beyond the size bound.
    bool Bound();

    Settings settings_;
    Notice notice_;
    bool told_ = false;
    bool rebuilt_ = false;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
    sqlite3_stmt* countUnder_ = nullptr;
    sqlite3_stmt* selectFolder_ = nullptr;
    sqlite3_stmt* putFolder_ = nullptr;
    // A folder merged with its row: the names given, and the files; their memory is used again.
    std::vector<std::string_view> names_;
    FolderBlob blob_;
};

}  // namespace qirn
