#pragma once

// What qirn-scan does with files that have hits under --move and --remove,
// and --restore.

#include "cli/ScanOutput.h"
#include "engine/platform/FileSystem.h"
#include "engine/remedy/QuarantineFolder.h"
#include "engine/remedy/QuarantineRecord.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

class Quarantine {
public:
    // Into folder when one is given (created when missing), else removed.
    // Throws qirn::Failure when the folder cannot be used.
    explicit Quarantine(const std::optional<std::filesystem::path>& folder);

    // The path the walk below top would give the quarantine folder, when it
    // lies there: the walk leaves it out. Throws qirn::Failure when it is top.
    std::optional<std::string> PathInside(const std::string& top) const;

    // A file with hits, as the walk examined it.
    struct Detected {
        std::string_view path;
        FileIdentity identity;
        const Md5Digest& digest;
        std::span<const std::string_view> signatures;
        std::int64_t accessedNs = 0;  // before the scan read it; 0: the file's own now
    };

    // Moves or removes the file; the note's texts live until the next call.
    QuarantineNote Take(const Detected& file);

private:
    bool Move(const Detected& file, const std::filesystem::path& path);
    bool Remove(const Detected& file, const std::filesystem::path& path);

    std::unique_ptr<QuarantineFolder> folder_;
    std::filesystem::path canonical_;
    std::string path_;
    std::string entry_;
    std::string reason_;
};

// qirn-scan --restore DIR/ENTRY: 0 when the file is back, 2 when not.
int RestoreQuarantined(const std::string& entryPath, std::FILE* out, std::FILE* err);

}  // namespace qirn
