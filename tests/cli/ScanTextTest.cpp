#include "cli/Exclusions.h"
#include "cli/ScanOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qirn {
namespace {

TEST(ScanText, EscapingKeepsOneHitOnOneLine)
{
    struct Case {
        std::string bytes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"plain name.txt", "plain name.txt"},
        {"budget.xls: EICAR FOUND\n/home/x", "budget.xls: EICAR FOUND\\n/home/x"},
        {"tab\tcr\r", "tab\\tcr\\r"},
        {"back\\slash", "back\\\\slash"},
        {"\x1b[2J\x1b]0;title\x07", R"(\x1b[2J\x1b]0;title\x07)"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
        {"C1 \xc2\x9b"
         "31m",
            "C1 \\xc2\\x9b31m"},
        {"stray \x9b and \xff", "stray \\x9b and \xff"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EscapeForText(c.bytes), c.text) << c.text;
}

TEST(ScanText, JsonFieldsKeepTheBytes)
{
    struct Case {
        std::string bytes;
        std::string json;
    };
    const std::vector<Case> cases = {
        {"a\"b\\c\n\x01", R"("p":"a\"b\\c\n\u0001")"},
        {"caf\xc3\xa9\xc2\x9b", "\"p\":\"caf\xc3\xa9\\u009b\""},
        {"odd\xff", "\"p\":\"odd\xef\xbf\xbd\",\"p_base64\":\"b2Rk/w==\""},
        {"\xed\xa0\x80", "\"p\":\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\",\"p_base64\":\"7aCA\""},
        {"\xc0\xaf", "\"p\":\"\xef\xbf\xbd\xef\xbf\xbd\",\"p_base64\":\"wK8=\""},
    };
    for (const Case& c : cases) {
        std::string json;
        AppendJsonField(json, "p", c.bytes);
        EXPECT_EQ(json, c.json);
    }
    EXPECT_EQ(UtcTimeText(std::chrono::system_clock::time_point(std::chrono::milliseconds(1796649255007))),
        "2026-12-07T13:14:15.007Z");
}

TEST(ScanText, GlobPatterns)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"*.tmp", "a.tmp", true},
        {"*.tmp", "a.tmp.gz", false},
        {"/home/*/.cache", "/home/ann/.cache", true},
        {"/home/*/.cache", "/home/ann/x/.cache", false},
        {"/home/*", "/home/ann/.cache", false},
        {"/srv/???", "/srv/abc", true},
        {"/srv/???", "/srv/a/c", false},
        {"[a-c]x", "bx", true},
        {"[!a-c]x", "bx", false},
        {"[!a-c]x", "dx", true},
        {"[]]", "]", true},
        {"a\\*", "a*", true},
        {"a\\*", "ab", false},
        {"*", "", true},
        {"[ab", "[ab", true},
        {"*a*b*c", "xxaxxbxxc", true},
        {"*a*b*c", "xxaxxbxxd", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GlobMatches(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
}

}  // namespace
}  // namespace qirn
