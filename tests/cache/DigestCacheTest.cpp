#include "cache/DigestCache.h"
#include "cache/KeptDigests.h"
#include "cache/ScanCache.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qirn {
namespace {

using test::DigestOf;
using test::MemoryScan;
using test::TempTree;
using namespace std::chrono_literals;

constexpr std::int64_t kMs = 1'000'000;

// The records under folder in path order; empty when the cache cannot be read.
std::vector<CacheRecord> RecordsUnder(DigestCache& cache, const std::string& folder)
{
    std::vector<CacheRecord> records;
    if (!cache.VisitUnder(folder, [&](const DigestCache::RecordView& row) {
            records.push_back({std::string(row.path), row.digest, row.seenNs, std::string(row.mount)});
        }))
        records.clear();
    std::sort(
        records.begin(), records.end(), [](const CacheRecord& a, const CacheRecord& b) { return a.path < b.path; });
    return records;
}

TEST(DigestTrustTest, OnlyAnEqualStampOlderThanTheReadByTheTimeResolution)
{
    constexpr std::int64_t kFine = 1'700'000'000'123'456'789;
    constexpr std::int64_t kWhole = 1'700'000'000'000'000'000;
    const FileStamp fine{{1, 2}, 10, kFine, kFine};
    const FileStamp whole{{1, 2}, 10, kWhole, kWhole};
    auto with = [](FileStamp stamp, auto change) {
        change(stamp);
        return stamp;
    };
    struct Case {
        const char* what;
        FileStamp cached;
        std::int64_t readNs;
        FileStamp now;
        bool needSha256;
        bool trusted;
        std::int64_t settle = 0;  // how long dirty pages may hide writes
    };
    const Case cases[] = {
        {"unchanged, read well after its last change", fine, kFine + 51 * kMs, fine, false, true},
        {"read within the resolution of the change", fine, kFine + 50 * kMs, fine, false, false},
        {"read before the change", fine, kFine - kMs, fine, false, false},
        {"whole-second times, read 1 s after", whole, kWhole + 1000 * kMs, whole, false, false},
        {"whole-second times, read 2.1 s after", whole, kWhole + 2100 * kMs, whole, false, true},
        {"whole-second modification, fine change time, read 100 ms after",
            with(fine, [](FileStamp& s) { s.modifiedNs = kWhole; }), kFine + 100 * kMs,
            with(fine, [](FileStamp& s) { s.modifiedNs = kWhole; }), false, true},
        {"change time moved (times reset by touch -r)", fine, kFine + kMs * 100,
            with(fine, [](FileStamp& s) { s.changedNs += 1; }), false, false},
        {"modification time moved", fine, kFine + kMs * 100, with(fine, [](FileStamp& s) { s.modifiedNs -= 1; }), false,
            false},
        {"size changed", fine, kFine + kMs * 100, with(fine, [](FileStamp& s) { s.size = 11; }), false, false},
        {"another inode", fine, kFine + kMs * 100, with(fine, [](FileStamp& s) { s.identity.inode = 3; }), false,
            false},
        {"another device", fine, kFine + kMs * 100, with(fine, [](FileStamp& s) { s.identity.device = 9; }), false,
            false},
        {"SHA-256 needed but none kept", fine, kFine + kMs * 100, fine, true, false},
        {"read 1 s after the change, pages may still be dirty", fine, kFine + 1000 * kMs, fine, false, false,
            35'000 * kMs},
        {"read 36 s after the change, pages written back", fine, kFine + 36'000 * kMs, fine, false, true, 35'000 * kMs},
        {"no periodic writeback", fine, kFine + 3'600'000 * kMs, fine, false, false, INT64_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CachedDigest cached;
        cached.stamp = c.cached;
        cached.readNs = c.readNs;
        EXPECT_EQ(DigestTrusted(cached, c.now, c.needSha256, c.settle), c.trusted);
    }
}

struct Counts {
    std::atomic<int> reads = 0;
    std::atomic<int> stampedEarly = 0;  // while the cache was still loading
    const ScanCache* session = nullptr;
};

// Counts the files read, so that a rescan can show it opened none, and the
// stamps taken before the cache was in.
class CountingFolder final : public Folder {
public:
    CountingFolder(std::unique_ptr<Folder> inner, Counts& counts) : inner_(std::move(inner)), counts_(counts) { }
    bool Next(FolderEntry& entry) override { return inner_->Next(entry); }
    void Rewind() override { inner_->Rewind(); }
    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        return std::make_unique<CountingFolder>(inner_->OpenSubfolder(name), counts_);
    }
    FileIdentity Identity() override { return inner_->Identity(); }
    std::uint64_t Length(const std::string& name) override { return inner_->Length(name); }
    FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        ++counts_.reads;
        return inner_->ReadFile(name, buffer);
    }
    std::optional<FileStamp> Stamp(const std::string& name) override
    {
        if (counts_.session != nullptr && counts_.session->Loading())
            ++counts_.stampedEarly;
        return inner_->Stamp(name);
    }

private:
    std::unique_ptr<Folder> inner_;
    Counts& counts_;
};

TEST(DigestTrustTest, DirtyPagesLiveAsLongAsTheKernelSettingsSay)
{
    constexpr std::int64_t kSecond = 1'000'000'000;
    EXPECT_EQ(DirtyPageLifetimeNs(3000, 500), 35 * kSecond);
    EXPECT_EQ(DirtyPageLifetimeNs(100, 100), 2 * kSecond);
    EXPECT_EQ(DirtyPageLifetimeNs(3000, 0), INT64_MAX);  // no periodic writeback
    EXPECT_EQ(DirtyPageLifetimeNs(INT64_MAX, 500), INT64_MAX);
    EXPECT_EQ(DirtyPageLifetimeNs(std::nullopt, 500), 35 * kSecond);
    EXPECT_EQ(DirtyPageLifetimeNs(-1, 500), 35 * kSecond);
}

struct Outcome {
    std::vector<std::string> hits;
    std::uint64_t counted = 0;
    int reads = 0;
    int stampedEarly = 0;
    std::vector<std::string> notices;
};

class DigestCacheTest : public ::testing::Test {
protected:
    DigestCacheTest()
    {
        tree_.file("scan/a.txt", "clean a");
        tree_.file("scan/sub/b.txt", "clean b");
        tree_.file("scan/sub/c.txt", "clean c");
        tree_.filled("scan/big", 83001);
        settings_.file = tree_.root() / "cache" / "digests.sqlite";
        settings_.lockWait = 50ms;
    }

    Outcome Scan(unsigned jobs = 1)
    {
        Outcome outcome;
        DigestCache cache(settings_, [&](const std::string& text) { outcome.notices.push_back(text); });
        const std::string folder = tree_.path("scan");
        MemoryScan scan;
        scan.signatures.Append(DigestOf("evil b!"), "Evil.B");
        scan.signatures.Append(DigestOf("evil c!"), "Evil.C");
        std::optional<ScanCache> session;
        if (cache.Usable())
            session.emplace(cache, folder, 1, settle_);  // a batch per file: the writer runs while the walk does
        mdlFindFiles::ScanRequest request = scan.Request(jobs);
        request.cache = session ? &*session : nullptr;
        Counts counts;
        counts.session = session ? &*session : nullptr;
        CountingFolder top(OpenFolder(folder), counts);
        mdlFindFiles::FindFiles(top, folder, mdlFindFiles::kAllFiles, request);
        if (session)
            session->Finish();
        outcome.hits = scan.HitPaths();
        outcome.counted = scan.examined.size();
        outcome.reads = counts.reads;
        outcome.stampedEarly = counts.stampedEarly;
        EXPECT_TRUE(scan.problems.paths.empty());
        return outcome;
    }

    // How long after a change a digest is trusted; the system's with none.
    std::optional<std::int64_t> settle_ = 0;

    // Old enough to be trusted once read.
    static void LetTimesSettle() { std::this_thread::sleep_for(60ms); }

    // The first column of the first row, as text.
    std::string Query(const std::string& sql)
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(settings_.file.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        std::string text;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr)
            text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return text;
    }

    void Sql(const std::string& sql)
    {
        std::filesystem::create_directories(settings_.file.parent_path());
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(settings_.file.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    TempTree tree_;
    DigestCache::Settings settings_;
};

TEST_F(DigestCacheTest, RescanReadsOnlyWhatChangedAndFindsEveryChange)
{
    for (const unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(jobs);
        std::filesystem::remove(settings_.file);
        const std::string b = tree_.path("scan/sub/b.txt");
        const std::string c = tree_.path("scan/sub/c.txt");
        tree_.file("scan/sub/b.txt", "clean b");
        tree_.file("scan/sub/c.txt", "clean c");
        LetTimesSettle();
        // With nothing cached, as without a cache: the too-long file is opened too.
        EXPECT_EQ(Scan(jobs).reads, 4);
        const std::string rows = "SELECT group_concat(CAST(path AS TEXT) || hex(entries)) FROM folders";
        const std::string written = Query(rows);
        const Outcome unchanged = Scan(jobs);
        EXPECT_EQ(unchanged.reads, 0);
        EXPECT_EQ(unchanged.counted, 3u);
        EXPECT_TRUE(unchanged.hits.empty());
        EXPECT_EQ(Query(rows), written);  // nothing written back
        // In a renamed folder, files are still not read, and the cache learns their new paths.
        const std::string sub = tree_.path("scan/sub");
        std::filesystem::rename(sub, sub + "2");
        EXPECT_EQ(Scan(jobs).reads, 0);
        EXPECT_EQ(Query("SELECT files FROM folders WHERE CAST(path AS TEXT) = '" + sub + "2/'"), "2");
        std::filesystem::rename(sub + "2", sub);

        // Rewritten in place with the same size, then both times set back.
        struct stat before { };
        ASSERT_EQ(::stat(b.c_str(), &before), 0);
        tree_.file("scan/sub/b.txt", "evil b!");
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, b.c_str(), times, 0), 0);
        // Replaced by another file of the same size and times.
        ASSERT_EQ(::stat(c.c_str(), &before), 0);
        const std::filesystem::path other = tree_.file("scan/other", "evil c!");
        const timespec otherTimes[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), otherTimes, 0), 0);
        std::filesystem::rename(other, c);

        const Outcome changed = Scan(jobs);
        EXPECT_EQ(changed.hits, (std::vector<std::string>{b, c}));
        EXPECT_EQ(changed.reads, 2);
        EXPECT_EQ(changed.counted, 3u);
        EXPECT_TRUE(changed.notices.empty());
        LetTimesSettle();
        EXPECT_EQ(Scan(jobs).hits, (std::vector<std::string>{b, c}));
    }
}

// Many entries under the folder make the load outlast the walk: every file
// is stamped while the cache loads, and looked up once it is in.
TEST_F(DigestCacheTest, FilesStampedWhileTheCacheLoadsAreLookedUpOnceItIsIn)
{
    std::vector<CacheRecord> gone(200000);
    for (std::size_t i = 0; i < gone.size(); ++i) {
        gone[i].path = tree_.path("scan/gone/") + std::to_string(i / 100) + "/" + std::to_string(i);
        gone[i].digest.stamp.identity = {~std::uint64_t{0}, i};
        gone[i].seenNs = WallClockNs();
    }
    DigestCache(settings_, {}).Store(gone);
    LetTimesSettle();
    for (const unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(jobs);
        tree_.file("scan/sub/b.txt", "clean b");
        LetTimesSettle();
        Scan(jobs);
        const Outcome unchanged = Scan(jobs);
        EXPECT_EQ(unchanged.stampedEarly, 4);
        EXPECT_EQ(unchanged.reads, 0);
        EXPECT_TRUE(unchanged.hits.empty());

        tree_.file("scan/sub/b.txt", "evil b!");
        const Outcome changed = Scan(jobs);
        EXPECT_EQ(changed.stampedEarly, 4);
        EXPECT_EQ(changed.reads, 1);
        EXPECT_EQ(changed.hits, (std::vector<std::string>{tree_.path("scan/sub/b.txt")}));
        EXPECT_EQ(changed.counted, 3u);
    }
}

TEST_F(DigestCacheTest, CacheFileIsPrivateAndBounded)
{
    LetTimesSettle();
    Scan();
    struct stat info { };
    ASSERT_EQ(::stat(settings_.file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(settings_.file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    struct Case {
        const char* what;
        std::size_t maxEntries;
        std::chrono::seconds maxAge;
        std::size_t maxFolderBytes;
        std::size_t kept;
    };
    const Case cases[] = {
        {"within bounds", 10, 3600s, 1000, 3},
        {"beyond the size bound", 2, 3600s, 1000, 2},
        {"not seen for too long", 10, 0s, 1000, 0},
        {"a folder of two files too long to keep", 10, 3600s, 100, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings_.file);
        settings_.maxEntries = c.maxEntries;
        settings_.maxAge = c.maxAge;
        settings_.maxFolderBytes = c.maxFolderBytes;
        Scan();
        DigestCache cache(settings_, {});
        EXPECT_EQ(RecordsUnder(cache, tree_.path("scan")).size(), c.kept);
    }
}

// The bounds go by when a file was last seen: of a folder over the size
// bound its oldest files go, and a folder written again loses its files not
// seen for too long. Of two records of one path in a batch, the later stands.
TEST_F(DigestCacheTest, TheBoundsDropTheLeastRecentlySeen)
{
    const std::int64_t now = WallClockNs();
    const auto record = [](const std::string& path, std::uint64_t inode, std::int64_t seenNs) {
        CacheRecord made;
        made.path = path;
        made.digest.stamp.identity = {1, inode};
        made.seenNs = seenNs;
        return made;
    };
    const auto kept = [](DigestCache& cache) {
        std::vector<std::string> paths;
        for (const CacheRecord& found : RecordsUnder(cache, "/x"))
            paths.push_back(found.path + ":" + std::to_string(found.digest.stamp.identity.inode));
        return paths;
    };
    constexpr std::int64_t kHour = 3'600'000 * kMs;
    {
        settings_.maxEntries = 2;
        DigestCache cache(settings_, {});
        cache.Store({record("/x/seen-0", 1, now), record("/x/seen-1", 2, now - 1000 * kMs),
            record("/x/seen-2", 3, now - 2000 * kMs)});
        EXPECT_EQ(kept(cache), (std::vector<std::string>{"/x/seen-0:1", "/x/seen-1:2"}));
    }
    std::filesystem::remove(settings_.file);
    settings_.maxEntries = 10;
    settings_.maxAge = 1h;
    DigestCache cache(settings_, {});
    cache.Store({record("/x/old", 1, now - 2 * kHour), record("/x/new", 2, now)});
    EXPECT_EQ(kept(cache), (std::vector<std::string>{"/x/new:2", "/x/old:1"}));
    cache.Store({record("/x/more", 3, now), record("/x/more", 4, now)});
    EXPECT_EQ(kept(cache), (std::vector<std::string>{"/x/more:4", "/x/new:2"}));
    cache.Store({record("/x/last", 5, now), record("/x/new", 6, now)});
    EXPECT_EQ(kept(cache), (std::vector<std::string>{"/x/last:5", "/x/more:4", "/x/new:6"}));
}

// A folder's files kept in one blob are read back whole, and a blob cut
// anywhere yields only the files before the cut.
TEST(FolderBlobTest, CutBlobsLoseOnlyTheCutFile)
{
    FolderBlob blob;
    CachedDigest digest;
    digest.stamp = {{3, 4}, 5, 6, 7};
    digest.readNs = 8;
    digest.md5.fill(0xAB);
    ASSERT_TRUE(blob.Add({"first", digest, 9, "mount"}));
    digest.sha256.emplace().fill(0xCD);
    ASSERT_TRUE(blob.Add({"second", digest, 10, ""}));
    EXPECT_FALSE(blob.Add({std::string(70000, 'n'), digest, 11, ""}));
    EXPECT_EQ(blob.Files(), 2u);
    EXPECT_EQ(blob.NewestSeenNs(), 10);
    const std::string_view bytes = blob.Bytes();
    std::size_t firstEnds = 0;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        std::vector<std::string> seen;
        const bool whole = ForEachCachedFile(bytes.substr(0, cut), [&](const CachedFile& file) {
            seen.push_back(std::string(file.name) + "/" + std::string(file.mount) + "/" + std::to_string(file.seenNs) +
                (file.digest.sha256 ? "/sha" : ""));
            EXPECT_EQ(file.digest.stamp, digest.stamp);
            EXPECT_EQ(file.digest.md5, digest.md5);
        });
        if (seen.size() == 1 && firstEnds == 0)
            firstEnds = cut;
        EXPECT_EQ(whole, cut == 0 || cut == firstEnds || cut == bytes.size()) << cut;
        const std::vector<std::string> all = {"first/mount/9", "second//10/sha"};
        EXPECT_EQ(seen, std::vector<std::string>(all.begin(), all.begin() + (cut == bytes.size() ? 2 : seen.size())));
    }
    EXPECT_GT(firstEnds, 0u);
}

// A folder's files mixed with its subfolders' are one run once the walk
// has left it; a folder that comes back after another is a second run.
TEST(FolderBlobTest, GathererAddsEachFolderOnceTheWalkLeftIt)
{
    FolderGatherer gatherer;
    FolderRuns runs;
    const CachedDigest digest;
    const std::pair<const char*, const char*> walk[] = {
        {"/a/", "x"}, {"/a/b/", "y"}, {"/a/b/c/", "z"}, {"/a/", "w"}, {"/d/", "v"}, {"/a/", "u"}};
    for (const auto& [folder, name] : walk)
        gatherer.Add(folder, {name, digest, 0, ""}, runs);
    gatherer.LeaveAll(runs);
    std::vector<std::string> seen;
    runs.ForEachRun([&](const FolderRun& run) {
        std::string text(run.folder);
        ForEachCachedFile(run.files, [&](const CachedFile& file) { text += file.name; });
        seen.push_back(text + std::to_string(run.count));
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"/a/b/c/z1", "/a/b/y1", "/a/xw2", "/d/v1", "/a/u1"}));
    EXPECT_EQ(runs.Files(), 6u);
    runs.Clear();
    EXPECT_EQ(runs.Files(), 0u);
}

// A folder holding most of the cache is read by a table scan, a small one
// through the path index; both must return exactly the rows under the folder.
TEST_F(DigestCacheTest, RecordsUnderAFolderWhicheverWayTheyAreRead)
{
    std::vector<CacheRecord> records;
    const auto add = [&](const std::string& path) {
        CacheRecord record;
        record.path = path;
        record.digest.stamp.identity = {1, records.size() + 1};
        record.digest.stamp.size = path.size();
        record.seenNs = WallClockNs();
        records.push_back(record);
    };
    for (int i = 11; i >= 0; --i)
        add("/x/big/" + std::to_string(i));
    for (const char* path : {"/x/small/only", "/x/big2/other", "/x/big", "/x/bi/g"})
        add(path);
    DigestCache cache(settings_, {});
    cache.Store(records);

    struct Case {
        const char* folder;
        std::size_t count;
        const char* first;
    };
    const Case cases[] = {
        {"/x/big", 12, "/x/big/0"},
        {"/x/big/", 12, "/x/big/0"},
        {"/x/small", 1, "/x/small/only"},
        {"/x/big2", 1, "/x/big2/other"},
        {"/x", 16, "/x/bi/g"},
        {"/y", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::vector<CacheRecord> under = RecordsUnder(cache, c.folder);
        ASSERT_EQ(under.size(), c.count);
        if (!under.empty()) {
            EXPECT_EQ(under.front().path, c.first);
        }
        EXPECT_TRUE(std::is_sorted(
            under.begin(), under.end(), [](const CacheRecord& a, const CacheRecord& b) { return a.path < b.path; }));
        for (const CacheRecord& record : under)
            EXPECT_EQ(record.digest.stamp.size, record.path.size());
    }
}

// Once a page written through a shared mapping is dirty, further writes
// to it change no time of the file: a digest read meanwhile is not trusted
// until the kernel has written such pages back.
TEST_F(DigestCacheTest, WritesThroughAMappingAreNotHiddenByTheCache)
{
    settle_ = std::nullopt;
    const std::filesystem::path file = tree_.file("scan/mapped", "clean!!");
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* const mapped = ::mmap(nullptr, 7, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* const bytes = static_cast<char*>(mapped);
    bytes[6] = '?';  // the first write to the page changes the file's times
    LetTimesSettle();
    EXPECT_TRUE(Scan().hits.empty());
    std::copy_n("evil c!", 7, bytes);  // the page is dirty already: no time changes
    EXPECT_EQ(Scan().hits, std::vector<std::string>{tree_.path("scan/mapped")});
    ::munmap(mapped, 7);
    ::close(fd);
}

// A front end walks several folders with one cache: what each walk read is
// kept, with the file's real path, even when the next walk begins at once.
TEST_F(DigestCacheTest, EachWalkOfOneCacheKeepsWhatItRead)
{
    tree_.file("other/d.txt", "clean d");
    tree_.link("to-other", tree_.root() / "other");
    {
        KeptDigests kept(settings_.file, {});
        for (const char* folder : {"scan", "to-other"}) {
            const std::string path = tree_.path(folder) + "/";
            DigestLookup* lookup = kept.BeginWalk(tree_.path(folder));
            ASSERT_NE(lookup, nullptr);
            FileStamp stamp;
            stamp.identity = {7, folder[0] == 's' ? 1u : 2u};
            lookup->Read(path, "file", stamp, WallClockNs(), {});
        }
        kept.EndWalk();
    }
    DigestCache cache(settings_, {});
    for (const char* folder : {"scan", "other"}) {
        SCOPED_TRACE(folder);
        const std::vector<CacheRecord> under = RecordsUnder(cache, tree_.path(folder));
        ASSERT_EQ(under.size(), 1u);
        EXPECT_EQ(under[0].path, tree_.path(folder) + "/file");
    }
}

TEST_F(DigestCacheTest, UnusableCacheLeavesResultsUnchangedAndSaysSoOnce)
{
    tree_.file("scan/sub/b.txt", "evil b!");
    const std::vector<std::string> expected = {tree_.path("scan/sub/b.txt")};
    auto validCache = [&] {
        LetTimesSettle();
        Scan();
    };
    sqlite3* holder = nullptr;
    struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"written by a newer version",
            [&] {
                validCache();
                Sql("PRAGMA user_version=4");
            },
            "another version"},
        {"another program's database", [&] { Sql("CREATE TABLE t(x)"); }, "not a QIRN Checker digest cache"},
        {"truncated",
            [&] {
                validCache();
                Sql("PRAGMA wal_checkpoint(TRUNCATE)");
                std::filesystem::resize_file(settings_.file, 4096 + 100);
            },
            "moved to"},
        {"not a database at all", [&] { tree_.file("cache/digests.sqlite", std::string(5000, 'x')); }, "moved to"},
        {"a folder", [&] { std::filesystem::create_directories(settings_.file); }, "Is a directory"},
        {"locked by another program",
            [&] {
                validCache();
                ASSERT_EQ(sqlite3_open(settings_.file.c_str(), &holder), SQLITE_OK);
                ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM folders",
                              nullptr, nullptr, nullptr),
                    SQLITE_OK);
            },
            "locked"},
        {"unwritable",
            [&] {
                validCache();
                ::chmod(settings_.file.c_str(), 0400);
            },
            "Permission denied"},
        {"another user's file",
            [&] {
                validCache();
                ASSERT_EQ(::chown(settings_.file.c_str(), 65534, 65534), 0);
            },
            "belongs to another user"},
    };
    for (const Case& c : cases) {
        if (::geteuid() != 0 && (c.says == std::string("belongs to another user")))
            continue;
        if (::geteuid() == 0 && c.says == std::string("Permission denied"))
            continue;
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(settings_.file.parent_path());
        c.prepare();
        const Outcome outcome = Scan();
        sqlite3_close(holder);
        holder = nullptr;
        EXPECT_EQ(outcome.hits, expected);
        EXPECT_EQ(outcome.counted, 3u);
        ASSERT_EQ(outcome.notices.size(), 1u);
        EXPECT_NE(outcome.notices[0].find(c.says), std::string::npos) << outcome.notices[0];
    }
}

// The first version kept one row per inode, the second one per path; their
// rows are kept, the newest of each path, and every name of a hard-linked
// file is kept from then on.
TEST_F(DigestCacheTest, EarlierVersionsAreCarriedOverAndHardLinksKeepEachName)
{
    struct Case {
        const char* what;
        std::string sql;
    };
    const Case cases[] = {
        {"one row per inode",
            "PRAGMA application_id=1363759694; PRAGMA user_version=1;"
            "CREATE TABLE digests(device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
            " modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL, read_ns INTEGER NOT NULL,"
            " seen_ns INTEGER NOT NULL, path BLOB NOT NULL, md5 BLOB NOT NULL, sha256 BLOB,"
            " PRIMARY KEY(device, inode)) WITHOUT ROWID;"
            "CREATE INDEX digests_by_path ON digests(path);"
            "INSERT INTO digests VALUES(1, 1, 5, 0, 0, 0, 10, CAST('/x/a' AS BLOB), zeroblob(16), NULL);"
            "INSERT INTO digests VALUES(1, 2, 6, 0, 0, 0, 20, CAST('/x/a' AS BLOB), zeroblob(16), NULL);"
            "INSERT INTO digests VALUES(1, 3, 7, 0, 0, 0, 30, CAST('/x/b' AS BLOB), zeroblob(16), zeroblob(32));"
            "INSERT INTO digests VALUES(1, 4, 7, 0, 0, 0, 30, CAST('/x/c' AS BLOB), zeroblob(15), NULL);"},
        {"one row per path",
            "PRAGMA application_id=1363759694; PRAGMA user_version=2;"
            "CREATE TABLE digests(path BLOB NOT NULL PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
            " size INTEGER NOT NULL, modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL,"
            " read_ns INTEGER NOT NULL, seen_ns INTEGER NOT NULL, md5 BLOB NOT NULL, sha256 BLOB, mount BLOB)"
            " WITHOUT ROWID;"
            "INSERT INTO digests VALUES(CAST('/x/a' AS BLOB), 1, 2, 6, 0, 0, 0, 20, zeroblob(16), NULL, NULL);"
            "INSERT INTO digests VALUES(CAST('/x/b' AS BLOB), 1, 3, 7, 0, 0, 0, 30, zeroblob(16), zeroblob(32),"
            " CAST('boot:9' AS BLOB));"
            "INSERT INTO digests VALUES(CAST('/x/c' AS BLOB), 1, 4, 7, 0, 0, 0, 30, zeroblob(15), NULL, NULL);"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(settings_.file);
        Sql(c.sql);
        {
            DigestCache cache(settings_, [](const std::string& t) { ADD_FAILURE() << t; });
            const std::vector<CacheRecord> under = RecordsUnder(cache, "/x");
            ASSERT_EQ(under.size(), 2u);
            EXPECT_EQ(under[0].digest.stamp.identity.inode, 2u);
            EXPECT_EQ(under[1].path, "/x/b");
            EXPECT_EQ(under[1].seenNs, 30);
            EXPECT_TRUE(under[1].digest.sha256.has_value());
            EXPECT_EQ(under[1].mount, c.sql.find("boot:9") != std::string::npos ? "boot:9" : "");
        }
        EXPECT_EQ(Query("PRAGMA user_version"), "3");
        EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE name LIKE 'digests%'"), "0");
    }

    std::filesystem::remove(settings_.file);
    tree_.file("scan/sub/b.txt", "evil b!");
    std::filesystem::create_hard_link(tree_.path("scan/sub/b.txt"), tree_.path("scan/b-too.txt"));
    LetTimesSettle();
    for (int scan = 0; scan < 2; ++scan) {
        const Outcome outcome = Scan();
        EXPECT_EQ(outcome.reads, scan == 0 ? 5 : 0);
        EXPECT_EQ(outcome.hits, (std::vector<std::string>{tree_.path("scan/b-too.txt"), tree_.path("scan/sub/b.txt")}));
    }
}

TEST_F(DigestCacheTest, RebuiltCacheIsUsedAgain)
{
    tree_.file("cache/digests.sqlite", std::string(5000, 'x'));
    LetTimesSettle();
    EXPECT_EQ(Scan().notices.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(settings_.file.native() + ".corrupt"));
    const Outcome again = Scan();
    EXPECT_TRUE(again.notices.empty());
    EXPECT_EQ(again.reads, 0);
}

// The write-ahead log outlives the connections. A cache file deleted by
// hand, as the manual says, is started afresh: its old log is not applied.
TEST_F(DigestCacheTest, ACacheFileDeletedWithoutItsLogStartsAfresh)
{
    tree_.file("scan/sub/b.txt", "evil b!");
    LetTimesSettle();
    Scan();
    ASSERT_TRUE(std::filesystem::exists(settings_.file.native() + "-wal"));
    std::filesystem::remove(settings_.file);
    for (const int reads : {4, 0}) {
        const Outcome outcome = Scan();
        EXPECT_TRUE(outcome.notices.empty());
        EXPECT_EQ(outcome.reads, reads);
        EXPECT_EQ(outcome.hits, std::vector<std::string>{tree_.path("scan/sub/b.txt")});
    }
}

TEST_F(DigestCacheTest, TwoScansAtOnceBothRight)
{
    tree_.file("scan/sub/c.txt", "evil c!");
    for (int i = 0; i < 40; ++i)
        tree_.file("scan/many/f" + std::to_string(i), "file " + std::to_string(i));
    const std::vector<std::string> expected = {tree_.path("scan/sub/c.txt")};
    LetTimesSettle();
    for (int round = 0; round < 3; ++round) {
        Outcome first;
        Outcome second;
        std::thread other([&] { second = Scan(2); });
        first = Scan(1);
        other.join();
        for (const Outcome* outcome : {&first, &second}) {
            EXPECT_EQ(outcome->hits, expected);
            EXPECT_EQ(outcome->counted, 43u);
        }
    }
    EXPECT_EQ(Scan().reads, 0);
}

}  // namespace
}  // namespace qirn
