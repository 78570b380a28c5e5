#include "cache/DigestCache.h"

#include "cache/SqliteRow.h"
#include "engine/platform/PrivateFile.h"

#include <sqlite3.h>

#include <algorithm>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace qirn {

using sqlite::BindBlob;
using sqlite::BlobText;
using sqlite::Reset;

namespace {

constexpr int kApplicationId = 0x5149524E;  // "QIRN"
// Version 3: a row per folder (its path ends in a separator) with its files, how many,
// and when the most recently seen of them was seen.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS folders("
    " path BLOB NOT NULL PRIMARY KEY, seen_ns INTEGER NOT NULL, files INTEGER NOT NULL, entries BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS upkeep(id INTEGER PRIMARY KEY CHECK(id = 1), pruned_ns INTEGER);";

constexpr const char* kSelectUnder = "SELECT path, entries FROM folders WHERE path >= ?1 AND path < ?2";
constexpr const char* kCountUnder = "SELECT sum(files) FROM folders WHERE path >= ?1 AND path < ?2";
constexpr const char* kSelectFolder = "SELECT entries FROM folders WHERE path = ?1";
constexpr const char* kPutFolder =
    "INSERT OR REPLACE INTO folders(path, seen_ns, files, entries) VALUES(?1, ?2, ?3, ?4)";
// Up to this much of the file is mapped for reading (SQLite caps it further).
constexpr std::int64_t kMapBytes = std::int64_t{1} << 30;

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
    for (sqlite3_stmt** statement : {&select_, &countUnder_, &selectFolder_, &putFolder_}) {
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
    int version = 0;
    if (!OpenDatabase(version))
        return false;
    if (version == kSchemaVersion)
        return Prepare();
    return Exec("BEGIN IMMEDIATE") && Exec(kSchema) && Prepare() && CarryOver(version);
}

bool DigestCache::OpenDatabase(int& version)
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
    // Versions 1 and 2 kept a row per file; they are carried over once the statements are ready.
    if (version < 1 || version > kSchemaVersion) {
        Close();
        Tell("written by another version of QIRN Checker; left as it is, and the scan goes on without it");
        return false;
    }
    // The last connection to close would copy what the log holds into the
    // file, sync both and delete the log, while the scan waits. The log
    // stays instead: a later write copies it over once it is large, on the
    // writer's thread. (SQLite deletes a log it finds beside an empty file.)
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // Reads map the file rather than copy it page by page into the page cache:
    // loading a large cache then costs a third of the time.
    return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
        Exec(("PRAGMA mmap_size=" + std::to_string(kMapBytes)).c_str());
}

bool DigestCache::Prepare()
{
    for (const auto& [sql, statement] : {std::pair{kSelectUnder, &select_}, std::pair{kCountUnder, &countUnder_},
             std::pair{kSelectFolder, &selectFolder_}, std::pair{kPutFolder, &putFolder_}}) {
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
    std::string path;
    while ((code = sqlite3_step(select_)) == SQLITE_ROW) {
        const std::string_view folderPath = BlobText(select_, 0);
        // A damaged row loses only the files after the damage.
        ForEachCachedFile(BlobText(select_, 1), [&](const CachedFile& file) {
            path.assign(folderPath);
            path.append(file.name);
            visit({path, file.digest, file.seenNs, file.mount});
        });
    }
    if (code != SQLITE_DONE) {
        Fail(code, "reading");
        return false;
    }
    return true;
}

void DigestCache::Store(const std::vector<CacheRecord>& records)
{
    // Of two records of one path the later stands, as if each had been written in turn.
    std::unordered_map<std::string_view, std::size_t> last;
    for (std::size_t i = 0; i < records.size(); ++i)
        last[records[i].path] = i;
    FolderGatherer gatherer;
    FolderRuns runs;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string_view path = records[i].path;
        if (last[path] != i)
            continue;
        const std::size_t nameStart = NameStart(path);
        gatherer.Add(path.substr(0, nameStart),
            {path.substr(nameStart), records[i].digest, records[i].seenNs, records[i].mount}, runs);
    }
    gatherer.LeaveAll(runs);
    Store(runs);
}

void DigestCache::Store(const FolderRuns& runs)
{
    if (!Usable() || runs.Files() == 0)
        return;
    const std::int64_t nowNs = WallClockNs();
    if (Exec("BEGIN IMMEDIATE") && WriteRuns(runs, nowNs) && Exec("COMMIT"))
        Prune(nowNs, runs.Files());
}

bool DigestCache::WriteRuns(const FolderRuns& runs, std::int64_t nowNs)
{
    const std::int64_t maxAgeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(settings_.maxAge).count();
    bool written = true;
    runs.ForEachRun([&](const FolderRun& run) { written = written && WriteFolder(run, nowNs - maxAgeNs); });
    return written;
}

bool DigestCache::WriteFolder(const FolderRun& run, std::int64_t oldestSeenNs)
{
    const Reset reset(selectFolder_);
    BindBlob(selectFolder_, 1, run.folder);
    const int code = sqlite3_step(selectFolder_);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        Fail(code, "writing");
        return false;
    }
    // A folder new to the cache, as a first scan gives them, is written as it came.
    if (code == SQLITE_DONE)
        return PutFolder(run.folder, run.files, run.count, run.newestSeenNs);
    // Else its other files stay unless they were not seen for too long.
    blob_.Clear();
    names_.clear();
    ForEachCachedFile(run.files, [&](const CachedFile& file) {
        blob_.Add(file);
        names_.push_back(file.name);
    });
    std::sort(names_.begin(), names_.end());
    ForEachCachedFile(BlobText(selectFolder_, 0), [&](const CachedFile& file) {
        if (file.seenNs >= oldestSeenNs && !std::binary_search(names_.begin(), names_.end(), file.name))
            blob_.Add(file);
    });
    return PutFolder(run.folder, blob_.Bytes(), blob_.Files(), blob_.NewestSeenNs());
}

bool DigestCache::PutFolder(
    std::string_view folder, std::string_view files, std::size_t count, std::int64_t newestSeenNs)
{
    if (files.size() > settings_.maxFolderBytes)
        return true;  // its files are read again by every scan
    const Reset reset(putFolder_);
    BindBlob(putFolder_, 1, folder);
    sqlite3_bind_int64(putFolder_, 2, newestSeenNs);
    sqlite3_bind_int64(putFolder_, 3, static_cast<std::int64_t>(count));
    BindBlob(putFolder_, 4, files);
    const int code = sqlite3_step(putFolder_);
    if (code != SQLITE_DONE) {
        Fail(code, "writing");
        return false;
    }
    return true;
}

}  // namespace qirn
