// Fuzz target: the signature loader against a plain reference reading of the
// same bytes, and the digest index against comparing every entry.

#include "engine/Failure.h"
#include "engine/signatures/SignatureList.h"
#include "tests/TempTree.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

struct ReferenceLine {
    std::string digestText;
    std::optional<std::string> name;  // none when the line holds no "="
};

// Lines end at LF, one CR before it belongs to the ending; empty lines and
// lines holding NUL are not signature lines.
std::vector<ReferenceLine> ReferenceRead(const std::string& text)
{
    std::vector<ReferenceLine> lines;
    std::string current;
    const auto finish = [&](bool endedByLf) {
        if (endedByLf && !current.empty() && current.back() == '\r')
            current.pop_back();
        if (!current.empty() && current.find('\0') == std::string::npos) {
            const std::size_t first = current.find('=');
            if (first == std::string::npos) {
                lines.push_back({current, std::nullopt});
            } else {
                const std::size_t second = current.find('=', first + 1);
                lines.push_back({current.substr(0, first),
                    current.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1)});
            }
        }
        current.clear();
    };
    for (const char c : text) {
        if (c == '\n')
            finish(true);
        else
            current += c;
    }
    finish(false);
    return lines;
}

// Lives in a temporary folder that goes away when the program ends.
const std::string& ScratchFile()
{
    static const qirn::test::TempTree tree;
    static const std::string path = tree.path("input.kvd");
    return path;
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& path = ScratchFile();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0)
        std::abort();

    qirn::SignatureList list;
    std::optional<int> failure;
    try {
        qirn::LoadSignatures(list, path);
    } catch (const qirn::Failure& error) {
        failure = error.number();
    }

    const std::vector<ReferenceLine> lines = ReferenceRead(text);
    std::size_t good = 0;
    while (good < lines.size() && lines[good].name)
        ++good;
    if (lines.empty())
        Check(failure == qirn::kNoSignatureLine, "no signature line must fail");
    else if (good < lines.size())
        Check(failure == qirn::kMissingSeparator, "a line without = must fail");
    else
        Check(!failure, "a good file must load");
    Check(list.Count() == good, "entries before the failing line");

    for (std::size_t i = 0; i < good; ++i) {
        Check(list.Name(i) == *lines[i].name, "name");
        const std::optional<qirn::Md5Digest> digest = qirn::DigestFromText(lines[i].digestText);
        if (!digest)
            continue;
        std::vector<std::string> expected;
        for (std::size_t j = 0; j < good; ++j) {
            if (lines[j].digestText == lines[i].digestText)
                expected.push_back(*lines[j].name);
        }
        std::vector<std::string> found;
        list.ForEachMatch(*digest, [&](std::string_view name) { found.emplace_back(name); });
        Check(found == expected, "matches in list order");
    }
    return 0;
}
