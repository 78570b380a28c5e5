// The once-a-second reload reads sa.kvd again only when it changed, and its
// result is always that of a full reload.

#include "window/SignatureReloader.h"
#include "engine/Failure.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace qirn {
namespace {

using TestFolder = test::TempTree;

std::vector<std::string> Names(const SignatureList& list)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < list.Count(); ++i)
        names.emplace_back(list.Name(i));
    return names;
}

// The names a full reload of file gives; empty when it is rejected.
std::vector<std::string> FullReload(const std::filesystem::path& file)
{
    SignatureList list;
    try {
        LoadSignatures(list, file);
    } catch (const Failure&) {
        list.Clear();
    }
    return Names(list);
}

class SignatureReloaderTest : public testing::Test {
protected:
    SignatureReloaderTest() { reloader.SetRacyWindow(0); }

    void Write(std::string_view content) { folder.file("sa.kvd", content); }
    void SetModified(std::chrono::seconds ago)
    {
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - ago);
    }

    TestFolder folder;
    std::filesystem::path file = folder.root() / "sa.kvd";
    SignatureList list;
    SignatureReloader reloader{list, file};
};

TEST_F(SignatureReloaderTest, UnchangedFileIsNotReadAgain)
{
    Write("aa=One\r\nbb=Two\r\n");
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_FALSE(reloader.Refresh());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"One", "Two"}));
}

TEST_F(SignatureReloaderTest, EachKindOfChangeIsSeen)
{
    Write("aa=One\r\n");
    SetModified(std::chrono::seconds(60));
    reloader.Refresh();

    Write("aa=One\r\nbb=Two\r\n");  // size
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(Names(list), FullReload(file));

    Write("aa=Uno\r\nbb=Dos\r\n");  // same size, new time
    SetModified(std::chrono::seconds(30));
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Uno", "Dos"}));

    // Same size and time, but another file renamed into place.
    const auto time = std::filesystem::last_write_time(file);
    folder.file("new.kvd", "aa=Ein\r\nbb=Zwo\r\n");
    std::filesystem::last_write_time(folder.root() / "new.kvd", time);
    std::filesystem::rename(folder.root() / "new.kvd", file);
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Ein", "Zwo"}));
}

TEST_F(SignatureReloaderTest, RecentlyChangedFileIsReadUntilItsStampCanBeTrusted)
{
    reloader.SetRacyWindow(std::chrono::nanoseconds(std::chrono::hours(1)).count());
    Write("aa=One\r\n");
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_TRUE(reloader.Refresh());
    // Setting an old time is itself a recent change of the file.
    SetModified(std::chrono::hours(2));
    EXPECT_TRUE(reloader.Refresh());
    reloader.SetRacyWindow(0);
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_FALSE(reloader.Refresh());
}

TEST(FileStampTest, TrustedOnceOlderThanTheTimeResolution)
{
    constexpr std::int64_t kMs = 1'000'000;
    constexpr std::int64_t kNow = 1'765'000'000'000'000'000;
    FileStamp fine;
    fine.modifiedNs = kNow - 100 * kMs + 123;
    fine.changedNs = kNow - 60 * kMs + 7;
    FileStamp coarse = fine;
    coarse.modifiedNs = kNow - 1000 * kMs;
    coarse.changedNs = kNow - 1000 * kMs;

    struct Case {
        const char* what;
        std::optional<FileStamp> stamp;
        std::int64_t now;
        bool trusted;
    };
    const Case cases[] = {
        {"fine times past the fine window", fine, kNow, true},
        {"fine times within it", fine, kNow - 20 * kMs, false},
        {"whole-second times within the coarse window", coarse, kNow, false},
        {"whole-second times past it", coarse, kNow + 1500 * kMs, true},
        {"no file", std::nullopt, kNow, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StampTrusted(c.stamp, c.now, 50 * kMs, 2000 * kMs), c.trusted) << c.what;
}

TEST_F(SignatureReloaderTest, MissingOrRejectedFileLeavesTheListEmpty)
{
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(reloader.Refresh());

    // A malformed line stops a plain load half-way; the refresh empties the list.
    Write("aa=One\r\nno separator\r\n");
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(Names(list), FullReload(file));

    Write("");
    SetModified(std::chrono::seconds(10));
    reloader.Refresh();
    EXPECT_EQ(list.Count(), 0u);

    std::filesystem::remove(file);
    reloader.Refresh();
    EXPECT_EQ(list.Count(), 0u);
    Write("aa=Back\r\n");
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Back"}));
}

TEST_F(SignatureReloaderTest, FailedFullLoadIsFollowedByARefreshThatReadsAgain)
{
    Write("aa=One\r\nno separator\r\n");
    EXPECT_THROW(reloader.Load(), Failure);
    EXPECT_EQ(list.Count(), 1u);  // a full load keeps the lines before the bad one
    EXPECT_TRUE(reloader.Refresh());
    EXPECT_EQ(list.Count(), 0u);
}

TEST_F(SignatureReloaderTest, SuccessfulFullLoadIsRemembered)
{
    Write("aa=One\r\n");
    reloader.Load();
    EXPECT_FALSE(reloader.Refresh());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"One"}));
}

TEST_F(SignatureReloaderTest, SaysWhyNoSignatureIsLoaded)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"missing", [] {}, "No signature loaded: sa.kvd is missing"},
        {"empty", [this] { Write(""); }, "No signature loaded: sa.kvd holds no signature line"},
        {"only empty lines", [this] { Write("\r\n\n\r\n"); }, "No signature loaded: sa.kvd holds no signature line"},
        {"a line without =", [this] { Write("aa=One\r\n\r\nno separator\r\nbb=Two\r\n"); },
            "No signature loaded: sa.kvd: line 3 has no \"=\""},
        {"a folder", [this] { folder.folder("sa.kvd"); }, "No signature loaded: sa.kvd is not a regular file"},
        {"a FIFO", [this] { folder.fifo("sa.kvd"); }, "No signature loaded: sa.kvd is not a regular file"},
        {"good", [this] { Write("aa=One\r\n"); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(file);
        c.make();
        reloader.Refresh();
        EXPECT_EQ(reloader.Problem(), c.problem);
        EXPECT_FALSE(reloader.Refresh());  // the reason stays while the file does
        EXPECT_EQ(reloader.Problem(), c.problem);
        if (c.problem.empty()) {
            EXPECT_NO_THROW(reloader.Load());
        } else {
            EXPECT_THROW(reloader.Load(), Failure);
        }
        EXPECT_EQ(reloader.Problem(), c.problem);
    }
}

// Run as a user that permissions bind (see tests/engine/CMakeLists.txt).
TEST_F(SignatureReloaderTest, UnreadableFileSaysWhy)
{
    Write("aa=One\r\n");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (::access(file.c_str(), R_OK) == 0)
        GTEST_SKIP() << "permissions do not bind this user";
    reloader.Refresh();
    EXPECT_EQ(reloader.Problem(), "No signature loaded: sa.kvd cannot be read: Permission denied");
}

}  // namespace
}  // namespace qirn
