#include "engine/Failure.h"
#include "engine/signatures/Parse.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace qirn {
namespace {

using namespace std::string_literals;

const std::string kDigestA = "0cc175b9c0f1b6a831c399e269772661";  // MD5 of "a"
const std::string kDigestB = "92eb5ffee6ae2fec3ad71c777531578f";  // MD5 of "b"

struct Loaded {
    std::vector<std::string> names;
    std::optional<int> failure;
};

std::vector<std::string> NamesOf(const SignatureList& list)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < list.Count(); ++i)
        names.emplace_back(list.Name(i));
    return names;
}

std::vector<std::string> MatchesOf(const SignatureList& list, const std::string& digestText)
{
    std::vector<std::string> names;
    list.ForEachMatch(*DigestFromText(digestText), [&](std::string_view name) { names.emplace_back(name); });
    return names;
}

class SignatureFileTest : public ::testing::Test {
protected:
    Loaded Load(const std::string& text)
    {
        tree_.file("sa.kvd", text);
        Loaded loaded;
        try {
            LoadSignatures(list_, tree_.root() / "sa.kvd");
        } catch (const Failure& failure) {
            loaded.failure = failure.number();
        }
        loaded.names = NamesOf(list_);
        return loaded;
    }

    test::TempTree tree_;
    SignatureList list_;
};

struct LineCase {
    const char* what;
    std::string text;
    std::vector<std::string> names;
};

TEST_F(SignatureFileTest, LinesAndFieldsAreTakenAsWritten)
{
    const std::vector<LineCase> cases = {
        {"last line without terminator", kDigestA + "=One\r\n" + kDigestB + "=Two", {"One", "Two"}},
        {"terminator after last line adds nothing", kDigestA + "=One\r\n", {"One"}},
        {"empty lines anywhere are skipped", "\r\n\r\n" + kDigestA + "=One\r\n\r\n\r\n" + kDigestB + "=Two\r\n\r\n",
            {"One", "Two"}},
        {"name lies between first and second =", kDigestA + "=Name=ignored=too", {"Name"}},
        {"line ending in its only = has an empty name", kDigestA + "=", {""}},
        {"a single = is an empty digest and name", "=", {""}},
        {"spaces stay part of the name", kDigestA + "= Spaced Name ", {" Spaced Name "}},
        {"line holding NUL is skipped", kDigestA + "=One\r\nab\0c=Bad\r\n"s + kDigestB + "=Two", {"One", "Two"}},
        {"CR CR LF keeps one CR in the name", kDigestA + "=One\r\r\n", {"One\r"}},
        {"lone LF ends a line", kDigestA + "=One\n" + kDigestB + "=Two\n", {"One", "Two"}},
        {"mixed line ends", kDigestA + "=One\n" + kDigestB + "=Two\r\n=Three", {"One", "Two", "Three"}},
        {"lone CR stays inside its line", kDigestA + "=One\rTwo", {"One\rTwo"}},
        {"bytes above 127 are kept", kDigestA + "=Tr\xe9s\xff", {"Tr\xe9s\xff"}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Loaded loaded = Load(c.text);
        EXPECT_FALSE(loaded.failure);
        EXPECT_EQ(loaded.names, c.names);
    }
}

TEST_F(SignatureFileTest, OnlyExactLowercaseDigestTextsMatch)
{
    std::string upper = kDigestA;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Load("\xEF\xBB\xBF" + kDigestA + "=AfterMark\r\n" +  // a byte-order mark belongs to the first digest
        upper + "=Upper\r\n" + " " + kDigestA + "=LeadingSpace\r\n" + kDigestA + " =TrailingSpace\r\n" +
        kDigestA.substr(1) + "=Short\r\n" + kDigestA + "=Exact\r\n");
    EXPECT_EQ(list_.Count(), 6u);
    EXPECT_EQ(MatchesOf(list_, kDigestA), std::vector<std::string>{"Exact"});
}

TEST_F(SignatureFileTest, DuplicatesAreSeparateEntriesMatchedInListOrder)
{
    const Loaded loaded =
        Load(kDigestA + "=First\r\n" + kDigestB + "=Other\r\n" + kDigestA + "=Second\r\n" + kDigestA + "=First\r\n");
    EXPECT_EQ(loaded.names.size(), 4u);
    EXPECT_EQ(MatchesOf(list_, kDigestA), (std::vector<std::string>{"First", "Second", "First"}));
    EXPECT_EQ(MatchesOf(list_, kDigestB), std::vector<std::string>{"Other"});
}

TEST_F(SignatureFileTest, LoadFailures)
{
    struct FailureCase {
        const char* what;
        std::string text;
        int number;
        std::vector<std::string> namesLeft;
    };
    const std::vector<FailureCase> cases = {
        {"empty file", "", kNoSignatureLine, {}},
        {"only empty lines", "\r\n\r\n\n", kNoSignatureLine, {}},
        {"only NUL lines", "\0=x\r\n"s, kNoSignatureLine, {}},
        {"line of spaces has no =", "   ", kMissingSeparator, {}},
        {"lines before the bad one stay",
            kDigestA + "=One\r\n" + kDigestB + "=Two\r\nno separator\r\n" + kDigestA + "=Never", kMissingSeparator,
            {"One", "Two"}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Loaded loaded = Load(c.text);
        EXPECT_EQ(loaded.failure, c.number);
        EXPECT_EQ(loaded.names, c.namesLeft);
    }
}

TEST_F(SignatureFileTest, MissingFileFailsWithErrnoAndEmptiesTheList)
{
    Load(kDigestA + "=One");
    ASSERT_EQ(list_.Count(), 1u);
    try {
        LoadSignatures(list_, tree_.root() / "absent.kvd");
        FAIL() << "a missing file must fail";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), ENOENT);
        EXPECT_NE(std::string(failure.description()).find("absent.kvd"), std::string::npos);
    }
    EXPECT_EQ(list_.Count(), 0u);
    EXPECT_TRUE(MatchesOf(list_, kDigestA).empty());
}

TEST_F(SignatureFileTest, FifoOrFolderInPlaceOfTheFileFailsWithoutHanging)
{
#ifndef _WIN32
    tree_.fifo("pipe.kvd");
    EXPECT_THROW(LoadSignatures(list_, tree_.root() / "pipe.kvd"), Failure);
#endif
    tree_.folder("dir.kvd");
    EXPECT_THROW(LoadSignatures(list_, tree_.root() / "dir.kvd"), Failure);
}

TEST_F(SignatureFileTest, ReloadingGivesTheSameList)
{
    const std::string text = kDigestA + "=One\r\n" + kDigestB + "=Two\r\n" + kDigestA + "=Three\r\n";
    const Loaded first = Load(text);
    const Loaded second = Load(text);
    EXPECT_EQ(first.names, second.names);
    EXPECT_EQ(MatchesOf(list_, kDigestA), (std::vector<std::string>{"One", "Three"}));
}

TEST_F(SignatureFileTest, LongFilesAreReadPieceByPiece)
{
    // Lines cross the boundaries of the pieces the loader reads; one name is
    // longer than a piece. The whole-file parser is the reference.
    std::string text;
    for (int i = 0; i < 80000; ++i) {
        text += (i % 3 == 0 ? kDigestA : kDigestB) + "=Sig." + std::to_string(i) + (i % 7 == 0 ? "\n" : "\r\n");
        if (i == 40000)
            text += kDigestB + "=" + std::string(3u << 20, 'n') + "\r\n\r\n";
    }
    text += "=last";
    tree_.file("big.kvd", text);
    LoadSignatures(list_, tree_.root() / "big.kvd");
    const auto lines = mdlParse::ParseSignatureFile(tree_.root() / "big.kvd", "=");
    ASSERT_EQ(list_.Count(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(list_.Name(i), lines[i][1]) << i;
    EXPECT_EQ(MatchesOf(list_, kDigestA).size(), 26667u);

    tree_.file("bad.kvd", text + "\r\n" + kDigestA + "=ok\r\nbroken\r\n");
    try {
        LoadSignatures(list_, tree_.root() / "bad.kvd");
        FAIL() << "a line without = must fail";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.description()).find("line 80005 has"), std::string::npos)
            << failure.description();
    }
    EXPECT_EQ(list_.Count(), lines.size() + 1);
}

TEST_F(SignatureFileTest, RunsOfNulLongerThanAPieceAreDroppedAsTheirLines)
{
    const std::string nuls(3u << 20, '\0');
    const std::string text = kDigestA + "=One\r\n" + nuls + "=dropped\r\n" + nuls + "\n" + kDigestB + "=Two\nbroken\n";
    tree_.file("runs-of-nul.kvd", text);
    try {
        LoadSignatures(list_, tree_.root() / "runs-of-nul.kvd");
        FAIL() << "a line without = must fail";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.description()).find("line 5 has"), std::string::npos) << failure.description();
    }
    EXPECT_EQ(NamesOf(list_), (std::vector<std::string>{"One", "Two"}));
}

TEST(ParseSignatureFileTest, ReturnsEveryFieldOfEverySignatureLine)
{
    test::TempTree tree;
    tree.file("sa.kvd", "\r\nd1=n1\r\n=\r\nd2=n2=extra=\r\nd3\n");
    const auto lines = mdlParse::ParseSignatureFile(tree.root() / "sa.kvd", "=");
    const std::vector<std::vector<std::string>> expected = {{"d1", "n1"}, {"", ""}, {"d2", "n2", "extra", ""}, {"d3"}};
    EXPECT_EQ(lines, expected);

    tree.file("empty.kvd", "\r\n");
    EXPECT_THROW(mdlParse::ParseSignatureFile(tree.root() / "empty.kvd", "="), Failure);
}

TEST(ReadWholeFileTest, ReadsEveryByte)
{
    test::TempTree tree;
    std::string content = "line\r\n\0\xff"s;
    content += std::string(100000, 'z');
    tree.file("data", content);
    EXPECT_EQ(mdlParse::ReadWholeFile(tree.root() / "data"), content);
    tree.file("empty", "");
    EXPECT_EQ(mdlParse::ReadWholeFile(tree.root() / "empty"), "");
}

}  // namespace
}  // namespace qirn
