// Keeping the digest cache within its bounds, and carrying over the caches
// of earlier versions.

#include "cache/DigestCache.h"
#include "cache/SqliteRow.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qirn {

using sqlite::BindBlob;
using sqlite::BlobText;
using sqlite::Signed;
using sqlite::Unsigned;

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
// Bounds are kept at most this long after the last pruning.
constexpr std::int64_t kPruneIntervalNs = 3600 * kSecond;
// Rows of an earlier version are moved this many at a time.
constexpr std::size_t kCarriedAtOnce = 8192;

template <std::size_t N>
bool BlobInto(sqlite3_stmt* statement, int column, std::array<std::uint8_t, N>& into)
{
    if (sqlite3_column_type(statement, column) != SQLITE_BLOB ||
        sqlite3_column_bytes(statement, column) != static_cast<int>(N))
        return false;
    std::memcpy(into.data(), sqlite3_column_blob(statement, column), N);
    return true;
}

// A statement finalised when it goes.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

bool DigestCache::CarryOver(int version)
{
    // Another program may have carried it over while this one waited for the lock.
    bool done = false;
    {
        Statement current;
        done = sqlite3_prepare_v2(db_, "SELECT user_version FROM pragma_user_version", -1, &current.handle, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(current.handle) == SQLITE_ROW && sqlite3_column_int(current.handle, 0) == kSchemaVersion;
    }
    if (done)
        return Exec("COMMIT");
    if (!CarryRowsOver(version))
        return false;
    const std::string drop = "DROP INDEX IF EXISTS digests_by_path; DROP TABLE digests; PRAGMA user_version=" +
        std::to_string(kSchemaVersion) + "; COMMIT";
    return Exec(drop.c_str());
}

bool DigestCache::CarryRowsOver(int version)
{
    // Both kept a row per path in table digests (the first also older rows
    // of the same path, and no mounts); the most recently seen of a path stands.
    Statement rows;
    const char* select = version == 1
        ? "SELECT path, device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, md5, sha256, NULL FROM"
          " (SELECT *, row_number() OVER (PARTITION BY path ORDER BY seen_ns DESC) AS newest FROM digests)"
          " WHERE newest = 1 ORDER BY path"
        : "SELECT path, device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, md5, sha256, mount"
          " FROM digests ORDER BY path";
    int code = sqlite3_prepare_v2(db_, select, -1, &rows.handle, nullptr);
    if (code != SQLITE_OK) {
        Fail(code, "carrying over an earlier version");
        return false;
    }
    const std::int64_t nowNs = WallClockNs();
    // Rows in the order of their paths come folder by folder, as from a walk.
    FolderGatherer gatherer;
    FolderRuns runs;
    while ((code = sqlite3_step(rows.handle)) == SQLITE_ROW) {
        sqlite3_stmt* const row = rows.handle;
        CachedDigest digest;
        digest.stamp.identity = {Unsigned(sqlite3_column_int64(row, 1)), Unsigned(sqlite3_column_int64(row, 2))};
        digest.stamp.size = Unsigned(sqlite3_column_int64(row, 3));
        digest.stamp.modifiedNs = sqlite3_column_int64(row, 4);
        digest.stamp.changedNs = sqlite3_column_int64(row, 5);
        digest.readNs = sqlite3_column_int64(row, 6);
        Sha256Digest sha256{};
        if (BlobInto(row, 9, sha256))
            digest.sha256 = sha256;
        // A row that does not hold a whole digest is left behind.
        if (!BlobInto(row, 8, digest.md5))
            continue;
        const std::string_view path = BlobText(row, 0);
        const std::size_t nameStart = NameStart(path);
        gatherer.Add(path.substr(0, nameStart),
            {path.substr(nameStart), digest, sqlite3_column_int64(row, 7), BlobText(row, 10)}, runs);
        if (runs.Files() >= kCarriedAtOnce) {
            if (!WriteRuns(runs, nowNs))
                return false;
            runs.Clear();
        }
    }
    if (code != SQLITE_DONE) {
        Fail(code, "carrying over an earlier version");
        return false;
    }
    gatherer.LeaveAll(runs);
    return WriteRuns(runs, nowNs);
}

void DigestCache::Prune(std::int64_t nowNs, std::size_t stored)
{
    std::int64_t prunedNs = 0;
    {
        Statement last;
        if (sqlite3_prepare_v2(db_, "SELECT pruned_ns FROM upkeep", -1, &last.handle, nullptr) == SQLITE_OK &&
            sqlite3_step(last.handle) == SQLITE_ROW)
            prunedNs = sqlite3_column_int64(last.handle, 0);
    }
    // Counting and sorting the whole table is not worth doing after every small scan.
    if (nowNs - prunedNs < kPruneIntervalNs && stored < settings_.maxEntries / 64)
        return;
    const std::int64_t maxAgeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(settings_.maxAge).count();
    // A folder whose files were all seen too long ago goes whole; the old
    // files of a folder still seen go when it is next written.
    const std::string sql = "BEGIN IMMEDIATE; DELETE FROM folders WHERE seen_ns < " + std::to_string(nowNs - maxAgeNs) +
        "; INSERT OR REPLACE INTO upkeep(id, pruned_ns) VALUES(1, " + std::to_string(nowNs) + ")";
    if (Exec(sql.c_str()) && Bound())
        Exec("COMMIT");
}

bool DigestCache::Bound()
{
    std::int64_t excess = 0;
    {
        Statement total;
        if (sqlite3_prepare_v2(db_, "SELECT sum(files) FROM folders", -1, &total.handle, nullptr) == SQLITE_OK &&
            sqlite3_step(total.handle) == SQLITE_ROW)
            excess = sqlite3_column_int64(total.handle, 0) - static_cast<std::int64_t>(settings_.maxEntries);
    }
    if (excess <= 0)
        return true;
    // The least recently seen folders go whole, the last of them in part.
    std::vector<std::string> gone;
    std::optional<std::string> trimmed;
    FolderBlob kept;
    {
        Statement oldest;
        int code = sqlite3_prepare_v2(
            db_, "SELECT path, files, entries FROM folders ORDER BY seen_ns, path", -1, &oldest.handle, nullptr);
        while (excess > 0 && code == SQLITE_OK && (code = sqlite3_step(oldest.handle)) == SQLITE_ROW) {
            const std::int64_t files = sqlite3_column_int64(oldest.handle, 1);
            if (files <= excess) {
                gone.emplace_back(BlobText(oldest.handle, 0));
                excess -= files;
                continue;
            }
            // The folder keeps its most recently seen files.
            std::vector<CachedFile> bySeen;
            ForEachCachedFile(BlobText(oldest.handle, 2), [&](const CachedFile& file) { bySeen.push_back(file); });
            std::sort(bySeen.begin(), bySeen.end(), [](const CachedFile& a, const CachedFile& b) {
                return std::pair(a.seenNs, a.name) < std::pair(b.seenNs, b.name);
            });
            for (auto i = static_cast<std::size_t>(excess); i < bySeen.size(); ++i)
                kept.Add(bySeen[i]);
            trimmed.emplace(BlobText(oldest.handle, 0));
            excess = 0;
        }
        if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE) {
            Fail(code, "pruning");
            return false;
        }
    }
    Statement remove;
    int code = sqlite3_prepare_v2(db_, "DELETE FROM folders WHERE path = ?1", -1, &remove.handle, nullptr);
    for (const std::string& path : gone) {
        if (code != SQLITE_OK && code != SQLITE_DONE)
            break;
        BindBlob(remove.handle, 1, path);
        code = sqlite3_step(remove.handle);
        sqlite3_reset(remove.handle);
    }
    if (code != SQLITE_OK && code != SQLITE_DONE) {
        Fail(code, "pruning");
        return false;
    }
    return !trimmed || PutFolder(*trimmed, kept.Bytes(), kept.Files(), kept.NewestSeenNs());
}

}  // namespace qirn
