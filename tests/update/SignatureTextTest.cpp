#include "engine/Failure.h"
#include "engine/signatures/SignatureList.h"
#include "engine/signing/UpdateBodyCheck.h"
#include "tests/TempTree.h"

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

TEST(SignatureTextTest, LoaderTakesEverySignatureLineAndNamesTheFirstBadOne)
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
        EXPECT_EQ(LoaderVerdict(tree, c.text), c.number);
    }
}

TEST(UpdateBodyRejectionTest, OnlyDigestLinesMayBeInstalled)
{
    const std::string sha = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
    struct Case {
        const char* what;
        std::string body;
        std::optional<std::string> reason;
    };
    const std::vector<Case> cases = {
        {"MD5 and SHA-256 lines, CR LF and LF, blank lines", "\r\n" + kDigestA + "=One\r\n\n" + sha + "=Two\n",
            std::nullopt},
        {"a second = ends the name", kDigestA + "=One=ignored", std::nullopt},
        {"a one-line HTML page where every line holds =", "<html><body><a href=\"/login\">Log in</a></body></html>",
            "the body is an HTML page, not a signature file"},
        {"HTML after a byte-order mark and blank lines", "\xEF\xBB\xBF\r\n  <!DOCTYPE HTML>\r\n<p a=b>\r\n",
            "the body is an HTML page, not a signature file"},
        {"an XML error page", "<?xml version=\"1.0\"?>\n<Error><Code>NoSuchKey</Code></Error>\n",
            "the body is an XML or other markup document, not a signature file"},
        {"empty", "", "the body holds no signature line"},
        {"only line ends", "\r\n\n", "the body holds no signature line"},
        {"no =", kDigestA + "=One\r\nbroken\r\n", "line 2 has no \"=\""},
        {"a single =", "=", "line 1 does not begin with a digest of 32 or 64 hexadecimal digits"},
        {"31 digits", kDigestA.substr(1) + "=x", "line 1 does not begin with a digest of 32 or 64 hexadecimal digits"},
        {"40 digits (SHA-1)", kDigestA + "01234567=x",
            "line 1 does not begin with a digest of 32 or 64 hexadecimal digits"},
        {"a space before =", kDigestA + " =x", "line 1 does not begin with a digest of 32 or 64 hexadecimal digits"},
        {"a byte-order mark before the digest", "\xEF\xBB\xBF" + kDigestA + "=x",
            "line 1 does not begin with a digest of 32 or 64 hexadecimal digits"},
        {"capital letters", "0CC175B9C0F1B6A831C399E269772661=x",
            "line 1 has a digest in capital letters, which never matches"},
        {"no name", kDigestA + "=\r\n", "line 1 has no signature name"},
        {"an empty name before a second =", kDigestA + "==x", "line 1 has no signature name"},
        {"a NUL byte", kDigestA + "=One\r\n" + kDigestA + "=T\0wo"s, "line 2 holds a NUL byte"},
        {"a lone CR does not end a line", kDigestA + "=One\r" + kDigestA + "=Two", std::nullopt},
        {"a line of spaces", kDigestA + "=One\n   \n", "line 2 has no \"=\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(UpdateBodyRejection(c.body), c.reason);
    }
}

}  // namespace
}  // namespace qirn
