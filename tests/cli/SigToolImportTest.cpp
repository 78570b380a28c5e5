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
#include <map>
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

TEST(SigToolImportTest, LargeListsKeepEachDigestOnceWithItsNamesInFirstSeenOrder)
{
    // Thousands of lines over two lists (the tables grow several times),
    // digests repeated within and across the lists, in both cases and both
    // digest kinds; names repeat in runs and scattered.
    const auto digest = [](int n, bool sha) {
        char text[65];
        std::snprintf(text, sizeof text, sha ? "%064x" : "%032x", static_cast<unsigned>(n) * 7919U);
        return std::string(text);
    };
    std::string first;
    std::string second;
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::string>> names;
    for (int i = 0; i < 6000; ++i) {
        const bool sha = i % 3 == 0;
        std::string hex = digest(i % 2500, sha);
        const std::string name = "file-" + std::to_string(i < 3000 ? i / 100 : i % 37) + ".exe";
        std::vector<std::string>& given = names[hex];
        if (given.empty())
            order.push_back(hex);
        if (std::find(given.begin(), given.end(), name) == given.end())
            given.push_back(name);
        if (i % 2 == 1)
            std::transform(hex.begin(), hex.end(), hex.begin(),
                [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
        (i < 4000 ? first : second) += hex + "  dir/" + name + "\n";
    }
    std::string kvd;
    for (const std::string& hex : order) {
        kvd += hex + "=" + names[hex].front();
        for (std::size_t n = 1; n < names[hex].size(); ++n)
            kvd += "/" + names[hex][n];
        kvd += "\r\n";
    }
    TempTree tree;
    const std::string output = tree.path("sa.kvd");
    const Outcome outcome = SigTool(
        {"import", "--output", output, tree.file("A.sums", first).string(), tree.file("B.sums", second).string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(TempTree::read(output), kvd);
    EXPECT_NE(outcome.err.find(std::to_string(order.size()) + " signatures written"), std::string::npos);
}

// Lists as feeds publish them: the empty file under a malware name, one
// digest under several names, sizes beyond what a scan reads.
TEST(SigToolImportTest, ListsGiveNoFalseAlarms)
{
    const std::string emptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
    const std::string emptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const std::string kThirdMd5 = "92eb5ffee6ae2fec3ad71c777531578f";
    const std::string trivial = "2 digests of the empty file left out";
    const std::string large = "signatures are for files larger than 83000 bytes";
    struct Case {
        const char* what;
        std::vector<std::string> lists;  // name=content
        std::vector<std::string> options;
        std::string kvd;
        std::vector<std::string> told;  // lines of standard error, or "-" and a text it must not hold
    };
    const std::vector<Case> cases = {
        {"the empty file under malware names",
            {"daily.hdb=" + emptyMd5 + ":0:Win.Empty\n" + kMd5 + ":68:Eicar\n", "iocs.txt=" + emptySha + ";Empty\n"},
            {}, kMd5 + "=Eicar\r\n",
            {trivial + ": under any name they make every empty file a hit (--keep-trivial keeps them)\n",
                "1 signatures written\n"}},
        {"kept when asked", {"iocs.txt=" + emptySha + ";Empty\n" + kMd5 + ";Eicar\n"}, {"--keep-trivial"},
            emptySha + "=Empty\r\n" + kMd5 + "=Eicar\r\n", {"-empty file"}},
        {"one digest in two lists",
            {"a.hdb=" + kMd5 + ":68:Trojan.A\n" + kOtherMd5 + ":1:Other\n",
                "b.csv=md5,signature\n" + kMd5Upper + ",Eicar-Test\n" + kMd5 + ",Trojan.A\n"},
            {}, kMd5 + "=Trojan.A/Eicar-Test\r\n" + kOtherMd5 + "=Other\r\n", {"2 signatures written\n"}},
        {"many names for one digest",
            {"many.txt=" +
                [] {
                    std::string lines;
                    for (int i = 0; i < 10; ++i)
                        lines += "44d88612fea8a8f36de82e1278abb02f;N" + std::to_string(i) + "\n";
                    return lines;
                }()},
            {}, kMd5 + "=N0/N1/N2/N3/N4/N5/N6/N7\r\n", {"2 names left out: a digest keeps at most 8\n"}},
        // Counted when a later list gives the larger size.
        {"sizes beyond the limit",
            {"daily.hdb=" + kMd5 + ":83001:Big\n" + kOtherMd5 + ":83000:Fits\n" + kSha + ":*:Unknown\n",
                "known.hashdeep=%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n250000," + kThirdMd5 + ",/x/big.exe\n0," +
                    emptyMd5 + ",/x/empty\n",
                "sized.csv=md5_hash,file_size,signature\n" + kOtherMd5 + ",\"2147483647000\",Huge\n"},
            {}, kMd5 + "=Big\r\n" + kOtherMd5 + "=Fits/Huge\r\n" + kSha + "=Unknown\r\n" + kThirdMd5 + "=big.exe\r\n",
            {"3 " + large + ", which a scan skips by default; to examine them, scan with --max-size 2147483646\n"}},
        // Counted once a digest.
        {"a size from hashdeep alone",
            {"known.hashdeep=%%%% HASHDEEP-1.0\n%%%% md5,size,filename\n" + kThirdMd5 + ",90000,/x/big.exe\n" +
                kThirdMd5 + ",90000,/y/big.exe\n"},
            {}, kThirdMd5 + "=big.exe\r\n",
            {"1 " + large + ", which a scan skips by default; to examine them, scan with --max-size 90000\n"}},
        {"sizes within the limit", {"daily.hdb=" + kMd5 + ":83000:Fits\n"}, {}, kMd5 + "=Fits\r\n", {"-" + large}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        std::vector<std::string> args = {"import"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        for (const std::string& list : c.lists) {
            const std::size_t equals = list.find('=');
            args.push_back(tree.file(list.substr(0, equals), list.substr(equals + 1)).string());
        }
        const Outcome outcome = SigTool(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.out, c.kvd);
        for (const std::string& told : c.told) {
            if (told.starts_with('-'))
                EXPECT_EQ(outcome.err.find(told.substr(1)), std::string::npos) << outcome.err;
            else
                EXPECT_NE(outcome.err.find(told), std::string::npos) << told << "\n" << outcome.err;
        }
    }
}

TEST(SigToolImportTest, UsageErrorsAreOneLineAndVersionIsShown)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string tryHelp = "Try 'qirn-sigtool --help' for more information.\n";
    const std::vector<Case> cases = {
        {{}, "qirn-sigtool: no command given\n" + tryHelp},
        {{"scan"}, "qirn-sigtool: unknown command scan\n" + tryHelp},
        {{"import"}, "qirn-sigtool: import needs at least one LIST\n" + tryHelp},
        {{"import", "--fast", "x"}, "qirn-sigtool: import: unknown option --fast\n" + tryHelp},
        {{"import", "--format", "xml", "x"},
            "qirn-sigtool: unknown format xml (known: kvd, plain, sums, bsd, hashdeep, clamav, loki, csv, misp)\n" +
                tryHelp},
    };
    for (const Case& c : cases) {
        const Outcome outcome = SigTool(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(outcome.out, "");
    }
    const Outcome version = SigTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "qirn-sigtool " QIRN_VERSION "\n");
    const Outcome help = SigTool({"--help"});
    EXPECT_NE(help.out.find("--keep-trivial"), std::string::npos);
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
