#pragma once

// What qirn-scan does with files that have hits under --move and --remove,
// and --restore.

#include "cli/ScanOutput.h"
#include "engine/Quarantine.h"
#include "engine/ScanElements.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qirn {

class Quarantine {
public:
    // Into folder when one is given (created when missing), else removed.
    // Throws qirn::Failure when the folder cannot be used.
    explicit Quarantine(const std::optional<std::filesystem::path>& folder);

    // The path the walk below top would give the quarantine folder, when it
    // lies there: the walk leaves it out. Throws qirn::Failure when it is top.
    std::optional<std::string> PathInside(const std::string& top) const;

    // Moves or removes the file of hit; the note's texts live until the next call.
    QuarantineNote Take(const Hit& hit, const Md5Digest& digest, const std::vector<std::string>& signatures);

private:
    bool Move(const Hit& hit, const Md5Digest& digest, const std::vector<std::string>& signatures);
    bool Remove(const Hit& hit, const Md5Digest& digest);

    std::unique_ptr<QuarantineFolder> folder_;
    std::filesystem::path canonical_;
    std::string path_;
    std::string entry_;
    std::string reason_;
};

// The text of ENTRY.json, and the facts read back from it.
std::string SidecarText(const QuarantineFacts& facts, const std::vector<std::string>& signatures);
std::optional<QuarantineFacts> ParseSidecar(std::string_view text);

// qirn-scan --restore DIR/ENTRY: 0 when the file is back, 2 when not.
int RestoreQuarantined(const std::string& entryPath, std::FILE* out, std::FILE* err);

}  // namespace qirn
