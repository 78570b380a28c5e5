// qirn-sigtool import and qirn-scan --signatures: every list format, on
// every system.

#include "cli/ScanCommand.h"
#include "cli/SigTool.h"
#include "tests/TempTree.h"
#include "tests/cli/StreamCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qirn {
namespace {

using namespace std::string_literals;
using test::TempTree;

using Outcome = test::Captured;

Outcome SigTool(const std::vector<std::string>& args)
{
    return test::CaptureStreams([&](std::FILE* out, std::FILE* err) { return RunSigTool(args, out, err); });
}

#ifdef _WIN32
// The system's texts differ; the file name must still lead.
const std::string kIsAFolder;
const std::string kNoSuchFile;
#else
const std::string kIsAFolder = "Is a directory";
const std::string kNoSuchFile = "No such file or directory";
#endif

const std::string kMd5 = "44d88612fea8a8f36de82e1278abb02f";
const std::string kSha = "275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f";
const std::string kOtherMd5 = "0cc175b9c0f1b6a831c399e269772661";
const std::string kMd5Upper = "44D88612FEA8A8F36DE82E1278ABB02F";
const std::string kShaUpper = "275A021BBFB6489E54D471899F7DB9D1663FC695EC2FE2A2C4538AABF651FD0F";
const std::string kBom = "\xEF\xBB\xBF";

TEST(SigToolImportTest, ReadsEveryFormatBySight)
{
    struct Case {
        const char* file;
        std::string content;
        std::string format;
        std::string kvd;
        std::string report;  // a line the load report holds
    };
    const std::vector<Case> cases = {
        {"bad.txt", kBom + "# plain list\r\n" + kMd5Upper + "\r\n\r\n" + kSha + "  \r\n0123\r\n", "plain",
            kMd5 + "=bad.txt\r\n" + kSha + "=bad.txt\r\n", "  line 5: no MD5 or SHA-256 digest\n"},
        {"MD5SUMS", kMd5 + "  samples/eicar.com\n" + kMd5 + " *dup/eicar.com\n\n", "sums", kMd5 + "=eicar.com\r\n",
            "MD5SUMS: sums list, 2 accepted, 0 rejected\n"},
        {"SHA256SUMS", kBom + kShaUpper + " *bin/eicar.exe\r\n", "sums", kSha + "=eicar.exe\r\n", ""},
        {"bsd.txt", "MD5 (eicar.com) = " + kMd5 + "\r\nSHA256 (dir/eicar.com) = " + kShaUpper + "\r\nSHA1 (x) = 00\r\n",
            "bsd", kMd5 + "=eicar.com\r\n" + kSha + "=eicar.com\r\n", "  line 3: not an \"MD5 (file) = digest\""},
        {"known.hashdeep",
            "%%%% HASHDEEP-1.0\r\n%%%% size,md5,sha256,filename\r\n## Invoked from: /home/u\r\n##\r\n68," + kMd5Upper +
                "," + kSha + ",/home/u/a, b.com\r\n",
            "hashdeep", kMd5 + "=a, b.com\r\n" + kSha + "=a, b.com\r\n", ""},
        {"daily.hdb", kMd5 + ":68:Eicar-Test-Signature:73\n" + kMd5 + ":x:Bad.Size\n" + kMd5 + "\n", "clamav",
            kMd5 + "=Eicar-Test-Signature\r\n", "  line 3: not a \"hash:size:name\" line\n"},
        {"daily.hsb", kShaUpper + ":*:Win.Test.Eicar_HSB-1\r\n" + std::string(40, 'a') + ":68:Sha1.Sig\r\n", "clamav",
            kSha + "=Win.Test.Eicar_HSB-1\r\n", "  line 2: a SHA-1 digest (only MD5 and SHA-256 are matched)\n"},
        {"hash-iocs.txt", "# LOKI\n\n" + kMd5 + ";EICAR test file\n" + kSha + ";80;Score = high\n", "loki",
            kMd5 + "=EICAR test file\r\n" + kSha + "=Score _ high\r\n", ""},
        {"full.csv",
            "################################################################\r\n"
            "# MalwareBazaar full data dump (CSV)\r\n"
            "# \"first_seen_utc\",\"sha256_hash\",\"md5_hash\",\"sha1_hash\",\"reporter\",\"file_name\","
            "\"file_type_guess\",\"mime_type\",\"signature\",\"clamav\"\r\n"
            "\"2024-01-01 00:00:01\", \"" +
                kSha + "\", \"" + kMd5 +
                "\", \"3395856ce81f2b7382dee72602f798b642f14140\", \"abuse_ch\", \"eicar.com\", \"com\", "
                "\"text/plain\", \"AgentTesla\", \"n/a\"\r\n",
            "csv", kSha + "=AgentTesla\r\n" + kMd5 + "=AgentTesla\r\n", ""},
        {"misp.csv",
            kBom +
                "uuid,event_id,category,type,value,comment,to_ids,date\n"
                "5f1c,42,Payload delivery,filename|md5,eicar.com|" +
                kMd5Upper + ",,1,1700000000\n5f1d,42,Payload delivery,sha256," + kSha +
                ",\"EICAR, sample\",1,1700000000\n5f1e,42,Network activity,ip-dst,192.0.2.1,,1,1700000000\n",
            "misp", kMd5 + "=eicar.com\r\n" + kSha + "=EICAR, sample\r\n", ""},
        {"line-breaks.csv",
            "md5_hash,signature\r\n" + kMd5 + ",\"Evil \"\"x\"\"\r\n" + kOtherMd5 + ",Fake\"\r\n\"" + kSha +
                "\"x,Bad\r\n" + kOtherMd5 + ",\"Open\r\n",
            "csv", kMd5 + "=Evil \"x\"_" + kOtherMd5 + ",Fake\r\n",
            "  line 4: not a CSV row: a quote is not closed, or text follows a closing quote\n  line 5: not a CSV row"},
        {"columns.hashdeep",
            "%%%% HASHDEEP-1.0\r\n%%%% size,md5,filename\r\n68," + kMd5 + ",/home/u/Invoice, March.exe\r\n5," +
                kOtherMd5 + "," + kMd5 + ",readme.txt\r\n",
            "hashdeep", kMd5 + "=Invoice, March.exe\r\n" + kOtherMd5 + "=" + kMd5 + ",readme.txt\r\n", ""},
        {"md5-only.csv", "md5,signature\r\n" + kMd5Upper + ",Trojan.A\r\n", "csv", kMd5 + "=Trojan.A\r\n", ""},
        {"sha256-only.csv", "\"sha256_hash\",\"malware\"\n\"" + kSha + "\",\"Win.B\"\n", "csv", kSha + "=Win.B\r\n",
            ""},
        {"controls.txt", kMd5 + ";bad\x1f" + "name\x7f" + "x=y\x01z\n", "loki", kMd5 + "=bad_name_x_y_z\r\n", ""},
        {"long.txt", kSha + "\n" + std::string(std::size_t{64} << 10, ' ') + kMd5 + "\n", "plain",
            kSha + "=long.txt\r\n", "  line 2: longer than 65536 bytes\n"},
        {"список.txt", kMd5 + "\n", "plain", kMd5 + "=список.txt\r\n", ""},
        {"old.kvd", kMd5Upper + "=EICAR\r\n" + kMd5 + "=EICAR\r\n", "kvd", kMd5 + "=EICAR\r\n",
            "old.kvd: kvd list, 2 accepted, 0 rejected\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempTree tree;
        tree.file(c.file, c.content);
        const std::string list = tree.path(c.file);
        const Outcome outcome = SigTool({"import", list});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, c.kvd);
        EXPECT_NE(outcome.err.find(std::string(c.file) + ": " + c.format + " list"), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find(c.report), std::string::npos) << outcome.err;
    }
}

TEST(SigToolImportTest, BadInputIsNamedAndLosesNothing)
{
    struct Case {
        const char* what;
        std::vector<std::string> lists;  // name=content, or a name alone for a folder
        std::string error;
    };
    const std::vector<Case> cases = {
        {"an empty list", {"empty.txt="}, "empty.txt: no hash line"},
        {"a CSV without a hash column", {"iocs.csv=ip,port\n192.0.2.1,80\n"},
            "iocs.csv: a CSV file without an MD5 or SHA-256 column"},
        {"UTF-16",
            {"wide.txt=\xFF\xFE"
             "4\0"
             "4\0"s},
            "wide.txt: a UTF-16 file; convert it to UTF-8 first"},
        {"UTF-16, big-endian",
            {"wide-be.txt=\xFE\xFF\0"
             "4\0"
             "4"s},
            "wide-be.txt: a UTF-16 file; convert it to UTF-8 first"},
        {"prose", {"notes.txt=Dear reader,\nhello\n"}, "notes.txt: a CSV file without an MD5 or SHA-256 column"},
        {"an unreadable list after a good one", {"good.txt=" + kMd5 + "\n", "folder"}, "folder: " + kIsAFolder},
        {"a missing list", {"missing"}, "missing: " + kNoSuchFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        const std::string output = tree.file("sa.kvd", "old content").string();
        std::vector<std::string> args = {"import", "--output", output};
        for (const std::string& list : c.lists) {
            const std::size_t equals = list.find('=');
            if (equals != std::string::npos)
                args.push_back(tree.file(list.substr(0, equals), list.substr(equals + 1)).string());
            else if (list == "folder")
                args.push_back(tree.folder(list).string());
            else
                args.push_back(tree.path(list));
        }
        const Outcome outcome = SigTool(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("left unchanged"), std::string::npos) << outcome.err;
        EXPECT_EQ(TempTree::read(output), "old content");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.root()), {}),
            static_cast<std::ptrdiff_t>(c.lists.size() + 1 - (c.what == "a missing list"s ? 1 : 0)));
    }
}

TEST(SigToolImportTest, LargeListsKeepEachPairOnceInFirstSeenOrder)
{
    // Thousands of pairs over two lists (the tables grow several times),
    // repeated within and across the lists, in both cases and both digest
    // kinds; names repeat in runs and scattered.
    const auto digest = [](int n, bool sha) {
        char text[65];
        std::snprintf(text, sizeof text, sha ? "%064x" : "%032x", static_cast<unsigned>(n) * 7919U);
        return std::string(text);
    };
    std::string first;
    std::string second;
    std::vector<std::string> expected;
    std::set<std::string> seen;
    for (int i = 0; i < 6000; ++i) {
        const bool sha = i % 3 == 0;
        std::string hex = digest(i % 2500, sha);
        const std::string name = "file-" + std::to_string(i < 3000 ? i / 100 : i % 37) + ".exe";
        if (seen.insert(hex + "=" + name).second)
            expected.push_back(hex + "=" + name + "\r\n");
        if (i % 2 == 1)
            std::transform(hex.begin(), hex.end(), hex.begin(),
                [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
        (i < 4000 ? first : second) += hex + "  dir/" + name + "\n";
    }
    TempTree tree;
    const std::string output = tree.path("sa.kvd");
    const Outcome outcome = SigTool(
        {"import", "--output", output, tree.file("A.sums", first).string(), tree.file("B.sums", second).string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    std::string kvd;
    for (const std::string& line : expected)
        kvd += line;
    EXPECT_EQ(TempTree::read(output), kvd);
    EXPECT_NE(outcome.err.find(std::to_string(expected.size()) + " signatures written"), std::string::npos);
}

#ifndef _WIN32
TEST(ScanSignaturesTest, EveryImportFormatAndSeveralListsAreMerged)
{
    TempTree tree;
    tree.file("scan/eicar.com", "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
    const std::string kvd = tree.file("sa.kvd", "00000000000000000000000000000000=Nothing\r\n").string();
    const std::string sums = tree.file("MD5SUMS", kMd5Upper + "  eicar.com\n").string();
    const std::string loki = tree.file("iocs.txt", kMd5 + ";EICAR by MD5\n").string();
    const Outcome outcome = test::CaptureStreams([&](std::FILE* out, std::FILE* err) {
        const std::vector<std::string> args = {
            "--signatures", kvd, "--signatures", sums, "--signatures", loki, "--jobs", "1", tree.path("scan")};
        return RunScanCommand(args, out, err);
    });
    EXPECT_EQ(outcome.status, kFound) << outcome.err;
    EXPECT_EQ(outcome.out,
        tree.path("scan/eicar.com") + ": eicar.com FOUND\n" + tree.path("scan/eicar.com") + ": EICAR by MD5 FOUND\n");
    EXPECT_NE(outcome.err.find("Signatures loaded: 3"), std::string::npos) << outcome.err;
}

#endif

}  // namespace
}  // namespace qirn
