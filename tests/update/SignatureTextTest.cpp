#include "engine/SignatureText.h"
#include "engine/Failure.h"
#include "engine/SignatureList.h"
#include "tests/TempTree.h"
#include "update/Download.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace qirn {
namespace {

using namespace std::string_literals;

const std::string kDigestA = "0cc175b9c0f1b6a831c399e269772661";

std::optional<int> LoaderVerdict(test::TempTree& tree, const std::string& text)
{
    const auto file = tree.file("sa.kvd", text);
    SignatureList list;
    try {
        LoadSignatures(list, file);
        return std::nullopt;
    } catch (const Failure& failure) {
        return failure.number();
    }
}

TEST(CheckSignatureTextTest, AgreesWithTheLoader)
{
    struct Case {
        const char* what;
        std::string text;
        std::optional<int> number;
    };
    const std::vector<Case> cases = {
        {"one signature", kDigestA + "=One\r\n", std::nullopt},
        {"lone LF line ends", kDigestA + "=One\n" + kDigestA + "=Two", std::nullopt},
        {"a single =", "=", std::nullopt},
        {"empty lines around signatures", "\r\n\n" + kDigestA + "=One\r\n\r\n", std::nullopt},
        {"line holding NUL is skipped", "no separator\0\r\n"s + kDigestA + "=One", std::nullopt},
        {"any text before = is taken", "<html>=</html>", std::nullopt},
        {"empty", "", kNoSignatureLine},
        {"only line ends", "\r\n\n\r\n", kNoSignatureLine},
        {"only NUL lines", "\0=x\r\n"s, kNoSignatureLine},
        {"a line of spaces", "   ", kMissingSeparator},
        {"a page of HTML", "<html>\r\n<body>Not Found</body>\r\n</html>\r\n", kMissingSeparator},
        {"a bad line after good ones", kDigestA + "=One\r\n" + kDigestA + "=Two\r\nbroken\r\n", kMissingSeparator},
        {"lone CR does not end the line", "broken\r" + kDigestA + "=One", std::nullopt},
    };
    test::TempTree tree;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Failure> failure = CheckSignatureText(c.text);
        EXPECT_EQ(failure ? std::optional<int>(failure->number()) : std::nullopt, c.number);
        EXPECT_EQ(LoaderVerdict(tree, c.text), c.number);
        const QString rejection =
            SignatureBodyRejection(QByteArrayView(c.text.data(), static_cast<qsizetype>(c.text.size())));
        EXPECT_EQ(rejection.isEmpty(), !c.number) << rejection.toStdString();
    }
}

TEST(CheckSignatureTextTest, NamesTheFirstLineWithoutSeparator)
{
    const auto failure = CheckSignatureText(kDigestA + "=One\r\n\r\nbad\nworse\n");
    ASSERT_TRUE(failure);
    EXPECT_EQ(std::string(failure->description()), "line 3 has no \"=\"");
}

}  // namespace
}  // namespace qirn
