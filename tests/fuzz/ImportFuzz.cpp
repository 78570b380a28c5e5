// Fuzz target: the hash list importer over every format, run as qirn-sigtool
// import runs it. The first byte chooses the format (forced or detected) and
// the list's file name; the rest is the list. Whatever the list holds, what
// is written must be a clean sa.kvd the signature loader takes whole.

#include "cli/HashListImport.h"
#include "cli/SigToolImport.h"
#include "cli/SignatureDedup.h"
#include "engine/Failure.h"
#include "engine/digest/Digest.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using qirn::HashListFormat;
using Pair = std::pair<std::string, std::string>;

struct FormatChoice {
    HashListFormat format;
    const char* fileName;  // a name lists of the format are found under
};
constexpr std::array<FormatChoice, 9> kChoices = {{{HashListFormat::Kvd, "old.kvd"},
    {HashListFormat::Plain, "list.txt"}, {HashListFormat::Sums, "MD5SUMS"}, {HashListFormat::Bsd, "bsd.txt"},
    {HashListFormat::Hashdeep, "known.hashdeep"}, {HashListFormat::ClamAv, "daily.hdb"},
    {HashListFormat::Loki, "hash-iocs.txt"}, {HashListFormat::Csv, "full.csv"}, {HashListFormat::Misp, "misp.csv"}}};
// Below it the format is forced; from it on it is detected by content.
constexpr std::uint8_t kDetected = kChoices.size();
// A line shorter than this is never cut as overlong.
constexpr std::size_t kShortLine = std::size_t{64} << 10;

void Check(bool condition, const char* what, std::string_view detail = {})
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        if (!detail.empty())
            std::fprintf(
                stderr, "  at: %.*s\n", static_cast<int>(std::min<std::size_t>(detail.size(), 300)), detail.data());
        std::abort();
    }
}

// Lives in a temporary folder that goes away when the program ends.
qirn::test::TempTree& Scratch()
{
    static qirn::test::TempTree tree;
    return tree;
}

// The lines of a list as the importer cuts them: at LF, one CR before it
// dropped, a UTF-8 byte-order mark at the start dropped.
std::vector<std::string_view> ListLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        if (lines.empty() && line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool IsBlank(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

bool IsDigestText(std::string_view digest)
{
    return (digest.size() == 32 || digest.size() == 64) && std::all_of(digest.begin(), digest.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

bool IsCleanName(std::string_view name)
{
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        return c == '=' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

// The lines of the written signature file, each cut into digest and name.
std::vector<Pair> WrittenPairs(const std::string& text)
{
    std::vector<Pair> pairs;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        Check(end != std::string_view::npos, "every written line ends with CR LF", rest);
        const std::string_view line = rest.substr(0, end);
        Check(line.find('\n') == std::string_view::npos, "no LF inside a written line", line);
        const std::size_t equals = line.find('=');
        Check(equals != std::string_view::npos, "a written line holds =", line);
        const std::string_view digest = line.substr(0, equals);
        const std::string_view name = line.substr(equals + 1);
        Check(IsDigestText(digest), "the digest is 32 or 64 lowercase hex digits", line);
        Check(IsCleanName(name), "the name is not empty and holds no =, control byte or DEL", line);
        pairs.emplace_back(digest, name);
        rest.remove_prefix(end + 2);
    }
    return pairs;
}

// The names the loaded list gives for digest, in list order.
std::vector<std::string> Matches(const qirn::SignatureList& list, const std::string& digest)
{
    std::vector<std::string> names;
    const auto add = [&](std::string_view name) { names.emplace_back(name); };
    if (digest.size() == 32)
        list.ForEachMatch(*qirn::DigestFromText(digest), add);
    else
        list.ForEachMatch(*qirn::Sha256FromText(digest), add);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto choice = static_cast<std::uint8_t>(data[0] % (2 * kChoices.size()));
    const FormatChoice& named = kChoices[choice % kChoices.size()];
    const std::optional<HashListFormat> forced =
        choice < kDetected ? std::optional<HashListFormat>(named.format) : std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    qirn::test::TempTree& tree = Scratch();
    const std::string list = tree.file(named.fileName, text).string();
    const std::string outFile = tree.path("out.kvd");
    const std::string errFile = tree.path("err.txt");

    // The importer alone: every signature it accepts, in order.
    std::vector<Pair> accepted;
    qirn::ImportReport report;
    try {
        report = qirn::ImportHashList(list, forced, [&](const qirn::ImportedSignature& signature) {
            accepted.emplace_back(signature.digestText, signature.name);
        });
    } catch (const std::exception& error) {
        Check(false, "ImportHashList throws nothing", error.what());
    } catch (...) {
        Check(false, "ImportHashList throws nothing");
    }

    // The command, its signatures on standard output.
    std::vector<std::string> args;
    if (forced)
        args = {"--format", std::string(qirn::HashListFormatName(*forced))};
    args.push_back(list);
    std::FILE* out = std::fopen(outFile.c_str(), "wb");
    std::FILE* err = std::fopen(errFile.c_str(), "wb");
    if (out == nullptr || err == nullptr)
        std::abort();
    int status = -1;
    try {
        status = qirn::RunImport(args, out, err);
    } catch (const std::exception& error) {
        Check(false, "RunImport throws nothing", error.what());
    } catch (...) {
        Check(false, "RunImport throws nothing");
    }
    if (std::fclose(out) != 0 || std::fclose(err) != 0)
        std::abort();
    const std::string written = qirn::test::TempTree::read(outFile);
    const std::string errText = qirn::test::TempTree::read(errFile);

    // The report against the lines of the list.
    const std::vector<std::string_view> lines = ListLines(text);
    Check(status == (report.error ? 2 : 0), "exit status 2 exactly when the list fails", errText);
    Check(report.error.has_value() == (report.accepted == 0), "a list fails exactly when it gives no signature");
    Check(report.accepted == accepted.size(), "accepted counts the signatures given");
    if (!report.error && forced)
        Check(report.format == *forced, "a forced format is the one read");
    Check(report.rejected <= lines.size(), "at most every line rejected");
    const std::uint64_t perLine =
        report.format == HashListFormat::Csv || report.format == HashListFormat::Hashdeep ? 2 : 1;
    Check(report.accepted <= perLine * (lines.size() - report.rejected),
        "accepted signatures come from lines not rejected");
    Check(report.firstRejected.size() == std::min<std::uint64_t>(report.rejected, qirn::kReportedRejections),
        "the first rejections are reported");
    std::uint64_t previous = 0;
    for (const qirn::RejectedLine& rejection : report.firstRejected) {
        Check(rejection.lineNumber > previous && rejection.lineNumber <= lines.size(),
            "rejected line numbers rise within the list", rejection.reason);
        Check(!rejection.reason.empty(), "a rejection says why");
        const std::string_view line = lines[rejection.lineNumber - 1];
        Check(!IsBlank(line) || line.size() >= kShortLine, "a blank line is never rejected");
        previous = rejection.lineNumber;
    }
    const std::string summary = report.error
        ? list + ": " + *report.error + "\n"
        : list + ": " + std::string(qirn::HashListFormatName(report.format)) + " list, " +
            std::to_string(report.accepted) + " accepted, " + std::to_string(report.rejected) + " rejected\n";
    Check(errText.starts_with(summary), "the printed report gives the counts", errText);

    // What was written: clean lines, each digest once with the names given
    // it joined in the order first given, the empty file's digests left out.
    const std::vector<Pair> pairs = WrittenPairs(written);
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::string>> names;
    for (const auto& [digest, name] : accepted) {
        if (qirn::IsTrivialDigest(digest))
            continue;
        std::vector<std::string>& given = names[digest];
        if (given.empty())
            order.push_back(digest);
        if (std::find(given.begin(), given.end(), name) == given.end() &&
            given.size() < qirn::SignatureDedup::kMaxNames)
            given.push_back(name);
    }
    std::vector<Pair> expected;
    for (const std::string& digest : order) {
        std::string joined;
        for (const std::string& name : names[digest])
            joined += (joined.empty() ? "" : "/") + name;
        expected.emplace_back(digest, joined);
    }
    Check(pairs == expected, "each digest written once with its names, first seen first");
    Check(errText.find("\n" + std::to_string(pairs.size()) + " signatures written\n") != std::string::npos,
        "the count written is printed", errText);

    // The loader takes the written file whole.
    qirn::SignatureList loaded;
    std::optional<int> failure;
    try {
        qirn::LoadSignatures(loaded, outFile);
    } catch (const qirn::Failure& error) {
        failure = error.number();
    }
    if (pairs.empty())
        Check(failure == qirn::kNoSignatureLine, "an empty sa.kvd loads as no signature line");
    else
        Check(!failure, "the written sa.kvd loads");
    Check(loaded.Count() == pairs.size(), "one loaded signature per written line");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        Check(loaded.Name(i) == pairs[i].second, "loaded names are the written ones", pairs[i].second);
        std::vector<std::string> sameDigest;
        for (const Pair& pair : pairs) {
            if (pair.first == pairs[i].first)
                sameDigest.push_back(pair.second);
        }
        Check(Matches(loaded, pairs[i].first) == sameDigest, "a written digest matches its names", pairs[i].first);
    }
    return 0;
}
