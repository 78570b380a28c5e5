#include "cache/DigestCache.h"

#include "engine/platform/PrivateFile.h"

#include <sqlite3.h>

#include <cstring>
#include <system_error>

namespace qirn {

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

constexpr int kApplicationId = 0x5149524E;  // "QIRN"
constexpr int kSchemaVersion = 2;

// One row per path, so that every name of a hard-linked file is kept. mount
// names the mount the file was read in where the digest holds only there.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS digests("
    " path BLOB NOT NULL PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    " size INTEGER NOT NULL, modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL,"
    " read_ns INTEGER NOT NULL, seen_ns INTEGER NOT NULL,"
    " md5 BLOB NOT NULL, sha256 BLOB, mount BLOB) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS upkeep(id INTEGER PRIMARY KEY CHECK(id = 1), pruned_ns INTEGER);";

// The first version kept one row per (device, inode). Its table is set
// aside, the table of kSchema made, and its rows move over, the most
// recently seen of each path last; they hold for no mount.
constexpr const char* kSetVersion1Aside = "ALTER TABLE digests RENAME TO digests_v1;"
                                          "DROP INDEX IF EXISTS digests_by_path;";
constexpr const char* kMoveVersion1Rows =
    "INSERT OR REPLACE INTO digests(path, device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, md5, sha256)"
    " SELECT path, device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, md5, sha256"
    " FROM digests_v1 ORDER BY seen_ns;"
    "DROP TABLE digests_v1;";

constexpr const char* kSelectUnder = "SELECT device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, md5, "
                                     "sha256, path, mount FROM digests WHERE path >= ?1 AND path < ?2";
constexpr const char* kCountUnder = "SELECT count(*) FROM digests WHERE path >= ?1 AND path < ?2";
// Up to this much of the file is mapped for reading (SQLite caps it further).
constexpr std::int64_t kMapBytes = std::int64_t{1} << 30;

constexpr const char* kInsert =
    "INSERT OR REPLACE INTO digests(device, inode, size, modified_ns, changed_ns, read_ns, seen_ns, path, md5, "
    "sha256, mount) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";

// Integers travel through SQLite's signed 64 bits unchanged.
std::int64_t Signed(std::uint64_t value)
{
    return static_cast<std::int64_t>(value);
}

std::uint64_t Unsigned(std::int64_t value)
{
    return static_cast<std::uint64_t>(value);
}

template <std::size_t N>
bool BlobInto(sqlite3_stmt* statement, int column, std::array<std::uint8_t, N>& into)
{
    if (sqlite3_column_type(statement, column) != SQLITE_BLOB ||
        sqlite3_column_bytes(statement, column) != static_cast<int>(N))
        return false;
    std::memcpy(into.data(), sqlite3_column_blob(statement, column), N);
    return true;
}

// A blob column's bytes, valid until the statement steps on; empty for NULL.
std::string_view BlobText(sqlite3_stmt* statement, int column)
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    return bytes != nullptr ? std::string_view(bytes, size) : std::string_view();
}

// Readies a statement for its next use; it may have been finalised meanwhile.
class Reset {
public:
    explicit Reset(sqlite3_stmt* const& statement) : statement_(statement) { }
    Reset(const Reset&) = delete;
    Reset& operator=(const Reset&) = delete;
    ~Reset()
    {
        if (statement_ == nullptr)
            return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

private:
    sqlite3_stmt* const& statement_;
};

constexpr std::size_t kLargeBatch = 4096;

// Bounds are kept at most this long after the last pruning.
constexpr std::int64_t kPruneIntervalNs = 3600 * kSecond;

}  // namespace

DigestCache::DigestCache(Settings settings, Notice notice) : settings_(std::move(settings)), notice_(std::move(notice))
{
    Open();
}

DigestCache::~DigestCache()
{
    Close();
}

void DigestCache::Tell(const std::string& text)
{
    if (told_)
        return;
    told_ = true;
    if (notice_)
        notice_("digest cache " + settings_.file.native() + ": " + text);
}

void DigestCache::Close()
{
    for (sqlite3_stmt** statement : {&select_, &countUnder_, &insert_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool DigestCache::Exec(const char* sql)
{
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        Fail(code, sql);
    return code == SQLITE_OK;
}

bool DigestCache::Open()
{
    const PrivateFile file = PreparePrivateFile(settings_.file);
    if (!file.ready) {
        Tell(file.problem + "; the scan goes on without the cache");
        return false;
    }
    return OpenDatabase() && Prepare();
}

bool DigestCache::OpenDatabase()
{
    const int opened = sqlite3_open_v2(
        settings_.file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (opened != SQLITE_OK) {
        Fail(opened, "open");
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(settings_.lockWait.count()));
    // Reading the header is the first access: a damaged or locked file shows here.
    int applicationId = 0;
    int version = 0;
    int objects = 0;
    sqlite3_stmt* probe = nullptr;
    int code = sqlite3_prepare_v2(db_,
        "SELECT (SELECT application_id FROM pragma_application_id), (SELECT user_version FROM pragma_user_version), "
        "(SELECT count(*) FROM sqlite_master)",
        -1, &probe, nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(probe);
        if (code == SQLITE_ROW) {
            applicationId = sqlite3_column_int(probe, 0);
            version = sqlite3_column_int(probe, 1);
            objects = sqlite3_column_int(probe, 2);
            code = SQLITE_OK;
        }
    }
    sqlite3_finalize(probe);
    if (code != SQLITE_OK) {
        Fail(code, "reading its header");
        return false;
    }
    if (applicationId == 0 && version == 0 && objects == 0) {
        // A new file; two scans may get here at once, so the schema is made in one write transaction.
        // Pages of 16 KiB cut the time to write a first scan's rows by a fifth.
        if (!Exec("PRAGMA page_size=16384") || !Exec("PRAGMA journal_mode=WAL") || !Exec("BEGIN IMMEDIATE"))
            return false;
        const std::string create = std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
            ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";COMMIT";
        if (!Exec(create.c_str()))
            return false;
        applicationId = kApplicationId;
        version = kSchemaVersion;
    }
    if (applicationId != kApplicationId) {
        Close();
        Tell("not a QIRN Checker digest cache; left as it is, and the scan goes on without it");
        return false;
    }
    if (version == 1) {
        const std::string migrate = std::string("BEGIN IMMEDIATE;") + kSetVersion1Aside + kSchema + kMoveVersion1Rows +
            "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";COMMIT";
        if (!Exec(migrate.c_str()))
            return false;
        version = kSchemaVersion;
    }
    if (version != kSchemaVersion) {
        Close();
        Tell("written by another version of QIRN Checker; left as it is, and the scan goes on without it");
        return false;
    }
    // Reads map the file rather than copy it page by page into the page cache:
    // loading a large cache then costs a third of the time.
    return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
        Exec(("PRAGMA mmap_size=" + std::to_string(kMapBytes)).c_str());
}

bool DigestCache::Prepare()
{
    for (const auto& [sql, statement] :
        {std::pair{kSelectUnder, &select_}, std::pair{kCountUnder, &countUnder_}, std::pair{kInsert, &insert_}}) {
        const int code = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr);
        if (code != SQLITE_OK) {
            Fail(code, "preparing its statements");
            return false;
        }
    }
    return true;
}

void DigestCache::Fail(int code, std::string_view during)
{
    const int primary = code & 0xFF;
    std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    Close();
    if ((primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) && !rebuilt_) {
        // Moved aside rather than deleted, so that the damage can be looked at.
        rebuilt_ = true;
        std::error_code error;
        std::filesystem::path aside = settings_.file;
        aside += ".corrupt";
        std::filesystem::rename(settings_.file, aside, error);
        for (const char* suffix : {"-wal", "-shm"}) {
            std::filesystem::path companion = settings_.file;
            companion += suffix;
            std::filesystem::remove(companion, error);
        }
        Tell("damaged (" + why + "); moved to " + aside.native() + " and rebuilt, and this scan reads every file");
        Open();
        return;
    }
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        why = "locked by another program for more than " + std::to_string(settings_.lockWait.count()) + " ms";
    Tell(why + " (while " + std::string(during) + "); the scan goes on without the cache");
}

bool DigestCache::VisitUnder(const std::string& folder, const std::function<void(const RecordView&)>& visit,
    const std::function<void(std::size_t)>& expect)
{
    if (!Usable())
        return false;
    std::string low = folder;
    if (low.empty() || low.back() != kPathSeparator)
        low += kPathSeparator;
    std::string high = low;
    high.back() = static_cast<char>(kPathSeparator + 1);
    const auto bind = [&](sqlite3_stmt* statement) {
        sqlite3_bind_blob64(statement, 1, low.data(), low.size(), SQLITE_STATIC);
        sqlite3_bind_blob64(statement, 2, high.data(), high.size(), SQLITE_STATIC);
    };
    if (expect) {
        const Reset reset(countUnder_);
        bind(countUnder_);
        const int code = sqlite3_step(countUnder_);
        if (code != SQLITE_ROW) {
            Fail(code, "reading");
            return false;
        }
        expect(static_cast<std::size_t>(sqlite3_column_int64(countUnder_, 0)));
    }
    const Reset reset(select_);
    bind(select_);
    int code = SQLITE_OK;
    CachedDigest digest;
    while ((code = sqlite3_step(select_)) == SQLITE_ROW) {
        sqlite3_stmt* const select = select_;
        digest.stamp.identity = {Unsigned(sqlite3_column_int64(select, 0)), Unsigned(sqlite3_column_int64(select, 1))};
        digest.stamp.size = Unsigned(sqlite3_column_int64(select, 2));
        digest.stamp.modifiedNs = sqlite3_column_int64(select, 3);
        digest.stamp.changedNs = sqlite3_column_int64(select, 4);
        digest.readNs = sqlite3_column_int64(select, 5);
        Sha256Digest sha256{};
        digest.sha256.reset();
        if (BlobInto(select, 8, sha256))
            digest.sha256 = sha256;
        // A row that does not hold a whole digest is not used.
        if (!BlobInto(select, 7, digest.md5))
            continue;
        visit({BlobText(select, 9), digest, sqlite3_column_int64(select, 6), BlobText(select, 10)});
    }
    if (code != SQLITE_DONE) {
        Fail(code, "reading");
        return false;
    }
    return true;
}

void DigestCache::Store(const std::vector<CacheRecord>& records)
{
    if (!Usable() || records.empty())
        return;
    // A large batch writes rows all over the tree: pages
    // that do not fit the page cache would be spilled to the WAL and read back.
    // Reads go through once and keep the default, which costs fewer page faults.
    const bool large = records.size() >= kLargeBatch;
    if ((large && !Exec("PRAGMA cache_size=-65536")) || !Exec("BEGIN IMMEDIATE"))
        return;
    for (const CacheRecord& record : records) {
        const CachedDigest& digest = record.digest;
        const Reset reset(insert_);
        sqlite3_bind_int64(insert_, 1, Signed(digest.stamp.identity.device));
        sqlite3_bind_int64(insert_, 2, Signed(digest.stamp.identity.inode));
        sqlite3_bind_int64(insert_, 3, Signed(digest.stamp.size));
        sqlite3_bind_int64(insert_, 4, digest.stamp.modifiedNs);
        sqlite3_bind_int64(insert_, 5, digest.stamp.changedNs);
        sqlite3_bind_int64(insert_, 6, digest.readNs);
        sqlite3_bind_int64(insert_, 7, record.seenNs);
        sqlite3_bind_blob64(insert_, 8, record.path.data(), record.path.size(), SQLITE_STATIC);
        sqlite3_bind_blob64(insert_, 9, digest.md5.data(), digest.md5.size(), SQLITE_STATIC);
        if (digest.sha256)
            sqlite3_bind_blob64(insert_, 10, digest.sha256->data(), digest.sha256->size(), SQLITE_STATIC);
        if (!record.mount.empty())
            sqlite3_bind_blob64(insert_, 11, record.mount.data(), record.mount.size(), SQLITE_STATIC);
        const int code = sqlite3_step(insert_);
        if (code != SQLITE_DONE) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            Fail(code, "writing");
            return;
        }
    }
    if (Exec("COMMIT") && (!large || Exec("PRAGMA cache_size=-2000")))
        Prune(WallClockNs(), records.size());
}

void DigestCache::Prune(std::int64_t nowNs, std::size_t stored)
{
    std::int64_t prunedNs = 0;
    sqlite3_stmt* last = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT pruned_ns FROM upkeep", -1, &last, nullptr) == SQLITE_OK &&
        sqlite3_step(last) == SQLITE_ROW)
        prunedNs = sqlite3_column_int64(last, 0);
    sqlite3_finalize(last);
    // Counting and sorting the whole table is not worth doing after every small scan.
    if (nowNs - prunedNs < kPruneIntervalNs && stored < settings_.maxEntries / 64)
        return;
    const std::int64_t maxAgeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(settings_.maxAge).count();
    const std::string sql = "BEGIN IMMEDIATE;"
                            "DELETE FROM digests WHERE seen_ns < " +
        std::to_string(nowNs - maxAgeNs) +
        ";"
        "DELETE FROM digests WHERE path IN (SELECT path FROM digests ORDER BY seen_ns"
        " LIMIT max(0, (SELECT count(*) FROM digests) - " +
        std::to_string(settings_.maxEntries) +
        "));"
        "INSERT OR REPLACE INTO upkeep(id, pruned_ns) VALUES(1, " +
        std::to_string(nowNs) + ");COMMIT";
    Exec(sql.c_str());
}

}  // namespace qirn
