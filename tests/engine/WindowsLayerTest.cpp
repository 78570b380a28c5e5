// The Windows platform layer on a real file system (under Wine in the test
// command): attributes, links, long and non-Latin names, CNG digests and
// removal by handle.

#include "engine/digest/Digest.h"
#include "engine/platform/Platform.h"
#include "engine/platform/windows/Text.h"
#include "engine/remedy/FileRemoval.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"
#include "tests/TestDoubles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qirn {
namespace {

using test::DigestOf;
using test::TempTree;

std::wstring Long(const std::filesystem::path& path)
{
    return windows::LongPath(path.native());
}

void SetAttributes(const std::filesystem::path& path, DWORD attributes)
{
    ASSERT_NE(::SetFileAttributesW(Long(path).c_str(), attributes), 0) << TextFromPath(path);
}

// Creates a file by its \\?\ path, which may be longer than MAX_PATH.
void WriteLong(const std::wstring& path, std::string_view content)
{
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
    ASSERT_EQ(written, content.size());
}

FileIdentity IdentityOf(const std::filesystem::path& path)
{
    return InputFile(path, Links::NotFollowed).Identity();
}

// The file at path as a scan that found "evil" there would describe it.
DetectedFile Detected(const std::filesystem::path& path, const FileIdentity& identity)
{
    return {path, identity, *DigestFromText(DigestOf("evil"))};
}

TEST(WindowsTextTest, NamesSurviveTheRoundTripThroughEngineText)
{
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {L"plain.txt", "plain.txt"},
        {L"Gr\u00fc\u00dfe",
            "Gr\xc3\xbc\xc3\x9f"
            "e"},
        {L"\u0432\u0438\u0440\u0443\u0441.exe", "\xd0\xb2\xd0\xb8\xd1\x80\xd1\x83\xd1\x81.exe"},
        {L"\u6587\u4ef6", "\xe6\x96\x87\xe4\xbb\xb6"}, {L"\xd83d\xde00", "\xf0\x9f\x98\x80"},  // a surrogate pair
        {L"lone\xd800", "lone\xed\xa0\x80"},  // an unpaired surrogate, as WTF-8
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windows::Narrow(c.wide), c.utf8);
        EXPECT_EQ(windows::Wide(c.utf8), c.wide);
    }
    EXPECT_EQ(windows::Wide("bad\xff"), L"bad\xfffd");
}

TEST(WindowsTextTest, LongPathsAreAbsoluteWithBackslashes)
{
    EXPECT_EQ(windows::LongPath(L"C:/a/b\\c"), L"\\\\?\\C:\\a\\b\\c");
    EXPECT_EQ(windows::LongPath(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(windows::LongPath(L"\\\\?\\C:\\as\\is"), L"\\\\?\\C:\\as\\is");
}

class WindowsWalkTest : public ::testing::Test {
protected:
    TempTree tree_;
    test::MemoryScan scan_;
};

TEST_F(WindowsWalkTest, AttributesDecideWhatIsExaminedAndLinksAreNotFollowed)
{
    const std::string evil = "evil";
    tree_.file("sa.kvd", DigestOf(evil) + "=Evil\r\n");
    LoadSignatures(scan_.signatures, tree_.root() / "sa.kvd");

    struct Entry {
        const char* path;
        DWORD attributes;  // 0: left as created
        bool found;
    };
    const std::vector<Entry> entries = {
        {"scan/plain.exe", 0, true},
        {"scan/hidden.exe", FILE_ATTRIBUTE_HIDDEN, true},
        {"scan/readonly.exe", FILE_ATTRIBUTE_READONLY, true},
        {"scan/system.exe", FILE_ATTRIBUTE_SYSTEM, false},
        {"scan/both.exe", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN, false},
        {"scan/hidden-folder/in.exe", 0, true},
        {"scan/system-folder/in.exe", 0, false},
        {"scan/\xd0\xb2\xd0\xb8\xd1\x80\xd1\x83\xd1\x81/\xe6\x96\x87\xe4\xbb\xb6.exe", 0, true},
        {"outside/target.exe", 0, false},
    };
    for (const Entry& entry : entries)
        tree_.file(entry.path, evil);
    for (const Entry& entry : entries) {
        if (entry.attributes != 0)
            SetAttributes(tree_.root() / PathFromText(entry.path), entry.attributes);
    }
    SetAttributes(tree_.root() / "scan/hidden-folder", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(tree_.root() / "scan/system-folder", FILE_ATTRIBUTE_SYSTEM);
    // A path beyond MAX_PATH.
    std::wstring deep = Long(tree_.root() / "scan");
    for (int i = 0; i < 12; ++i) {
        deep += L"\\" + std::wstring(30, static_cast<wchar_t>(L'a' + i));
        ASSERT_NE(::CreateDirectoryW(deep.c_str(), nullptr), 0);
    }
    deep += L"\\deep.exe";
    WriteLong(deep, evil);
    ASSERT_GT(deep.size(), 300u);
    // A link to a folder outside the tree, where the system can make one
    // (Wine 8 cannot; the test command checks its form of a link apart).
    std::error_code linkError;
    std::filesystem::create_directory_symlink(tree_.root() / "outside", tree_.root() / "scan/link", linkError);

    scan_.Scan(tree_.path("scan"));

    std::vector<std::string> expected;
    for (const Entry& entry : entries) {
        if (entry.found)
            expected.push_back(TextFromPath((tree_.root() / PathFromText(entry.path)).make_preferred()));
    }
    expected.push_back(windows::Narrow(std::wstring_view(deep).substr(4)));
    std::vector<std::string> found = scan_.HitPaths();
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(scan_.problems.paths.empty());
}

TEST_F(WindowsWalkTest, AFileOthersHoldOpenForWritingIsStillDigested)
{
    const std::filesystem::path file = tree_.file("busy.exe", "busy");
    const HANDLE writer = ::CreateFileW(
        Long(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(mdlMD5::FileMD5(file), DigestOf("busy"));
    ::CloseHandle(writer);
}

TEST(WindowsRemovalTest, RemovesOnlyTheDetectedFileThroughOneHandle)
{
    TempTree tree;
    struct Case {
        const char* what;
        DWORD attributes;
        bool replaced;
        RemovalResult::Status status;
        bool gone;
        const char* rewrittenAs = nullptr;  // its content after the scan
    };
    const std::vector<Case> cases = {
        {"plain", 0, false, RemovalResult::Status::Deleted, true},
        {"hidden", FILE_ATTRIBUTE_HIDDEN, false, RemovalResult::Status::Deleted, true},
        {"read-only", FILE_ATTRIBUTE_READONLY, false, RemovalResult::Status::Deleted, true},
        {"replaced", 0, true, RemovalResult::Status::Replaced, false},
        {"rewritten", 0, false, RemovalResult::Status::Changed, false, "harmless"},
        {"emptied", FILE_ATTRIBUTE_HIDDEN, false, RemovalResult::Status::Changed, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = tree.file(c.what, "evil");
        const FileIdentity identity = IdentityOf(file);
        if (c.replaced) {
            // Made while the first exists, so it cannot reuse its file number.
            std::filesystem::rename(tree.file(std::string(c.what) + ".new", "innocent"), file);
        }
        if (c.rewrittenAs != nullptr) {
            tree.file(c.what, c.rewrittenAs);
            ASSERT_EQ(IdentityOf(file), identity) << "overwritten in place";
        }
        if (c.attributes != 0)
            SetAttributes(file, c.attributes);
        const RemovalResult result = RemoveDetectedFile(Detected(file, identity));
        EXPECT_EQ(result.status, c.status) << result.errorText;
        EXPECT_EQ(std::filesystem::exists(file), !c.gone);
        if (c.rewrittenAs != nullptr) {
            EXPECT_EQ(TempTree::read(file), c.rewrittenAs);
        }
    }
    EXPECT_EQ(RemoveDetectedFile(Detected(tree.root() / "never-there", {})).status, RemovalResult::Status::Missing);
}

TEST(WindowsRemovalTest, AFileAnotherProgramHoldsStaysAndSaysWhy)
{
    TempTree tree;
    const std::filesystem::path file = tree.file("held", "evil");
    const FileIdentity identity = IdentityOf(file);
    const HANDLE holder = ::CreateFileW(Long(file).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const RemovalResult result = RemoveDetectedFile(Detected(file, identity));
    ::CloseHandle(holder);
    EXPECT_EQ(result.status, RemovalResult::Status::StillThere);
    EXPECT_FALSE(result.errorText.empty());
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(WindowsPlatformTest, ProgramFolderAndFolderTest)
{
    EXPECT_EQ(ExecutablePath().filename(), "engine_tests.exe");
    TempTree tree;
    EXPECT_TRUE(IsFolder(tree.root()));
    EXPECT_FALSE(IsFolder(tree.file("f", "x")));
    EXPECT_FALSE(IsFolder(tree.root() / "missing"));
}

}  // namespace
}  // namespace qirn
