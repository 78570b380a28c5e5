#include "cli/SignatureSources.h"

#include "cli/HashListImport.h"
#include "engine/Failure.h"
#include "engine/platform/ApplicationFolder.h"
#include "engine/platform/Platform.h"

#include <array>
#include <fstream>

namespace qirn {

namespace {

// A file named *.kvd, or whose first line is digest=name, is a signature file.
bool IsSignatureFile(const std::string& file)
{
    if (file.ends_with(".kvd"))
        return true;
    std::ifstream in(PathFromText(file), std::ios::binary);
    std::array<char, 4096> head{};
    in.read(head.data(), head.size());
    std::string_view text(head.data(), static_cast<std::size_t>(in.gcount()));
    text = text.substr(0, text.find('\n'));
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    const Detection detection = DetectHashListFormat({text}, file);
    return detection.format == HashListFormat::Kvd;
}

}  // namespace

std::optional<std::string> LoadSignatureSources(SignatureList& list, std::span<const std::string> files, std::FILE* err)
{
    list.Clear();
    for (const std::string& file : files) {
        if (IsSignatureFile(file)) {
            try {
                AppendSignatureFile(list, PathFromText(file));
            } catch (const Failure& failure) {
                return std::string(failure.description());
            }
            continue;
        }
        const ImportReport report = ImportHashList(file, std::nullopt,
            [&](const ImportedSignature& signature) { list.Append(signature.digestText, signature.name); });
        if (report.error)
            return file + ": " + *report.error;
        if (report.rejected > 0) {
            std::fprintf(err, "qirn-scan: %s: %llu lines rejected, the first at line %llu: %s\n", file.c_str(),
                static_cast<unsigned long long>(report.rejected),
                static_cast<unsigned long long>(report.firstRejected.front().lineNumber),
                report.firstRejected.front().reason.c_str());
        }
    }
    return std::nullopt;
}

std::optional<std::string> LoadScanSignatures(
    SignatureList& list, std::span<const std::string> files, std::string& names, std::FILE* err)
{
    names.clear();
    if (!files.empty()) {
        for (const std::string& file : files)
            names += (names.empty() ? "" : ", ") + file;
        return LoadSignatureSources(list, files, err);
    }
    names = TextFromPath(DefaultSignatureFile());
    try {
        LoadSignatures(list, PathFromText(names));
    } catch (const Failure& failure) {
        return std::string(failure.description());
    }
    return std::nullopt;
}

}  // namespace qirn
