#pragma once

// Detected files moved aside into a quarantine folder, and put back.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"
#include "engine/remedy/FileRemoval.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qirn {

// What a quarantine keeps about a file besides its bytes.
struct QuarantineFacts {
    std::string originalPath;  // absolute, native bytes
    std::uint32_t mode = 0;    // permission bits
    std::uint64_t owner = 0;
    std::uint64_t group = 0;
    std::int64_t accessedNs = 0;  // since the epoch
    std::int64_t modifiedNs = 0;
    std::uint64_t size = 0;
    Md5Digest digest{};
};

struct QuarantineResult {
    enum class Status {
        Done,
        Missing,   // nothing there to act on
        Changed,   // not the detected file any more (another entry or other content): left alone
        Occupied,  // Restore: something is at the original path now
        Failed,    // errorText says why
    };
    Status status = Status::Failed;
    std::string entry;      // Move: the file's name in the quarantine folder
    std::string errorText;  // why it was not done
};

// A folder of this user's that nobody else may enter. Each quarantined file
// lies in it under a unique name ENTRY, beside ENTRY.json.
class QuarantineFolder {
public:
    // Makes the text of ENTRY.json from the file's facts.
    using Sidecar = std::function<std::string(const QuarantineFacts&)>;

    virtual ~QuarantineFolder() = default;

    // Moves the regular file at path here when it still has this identity and
    // digest: a rename on the same file system, else copy, sync and remove.
    // Identity and digest are checked again once the file is here, where
    // nobody else can touch it; if they differ it goes back. Links are never
    // followed. The file keeps no execute or set-id bits here; its facts keep
    // its mode.
    virtual QuarantineResult Move(const std::filesystem::path& path, const FileIdentity& identity,
        const Md5Digest& digest, const Sidecar& sidecar) = 0;

    // Takes the detected file as RemoveDetectedFile does, with the same checks
    // and results, but writes the checked bytes here (mode 0600) with
    // ENTRY.json before the file goes: Deleted means it is kept here. When it
    // cannot be kept here (Refused), the file stays where it was.
    virtual RemovalResult Keep(const DetectedFile& detected, const Sidecar& sidecar) = 0;

    // The entries that have a record: regular files ENTRY and ENTRY.json.
    // Links are never followed.
    virtual std::vector<std::string> Entries() = 0;
    // Removes entry and its record for good.
    virtual void Discard(const std::string& entry) = 0;

    virtual std::string ReadSidecar(const std::string& entry) = 0;

    // Puts entry back at facts.originalPath when nothing is there and its
    // digest is still facts.digest, with its mode, owner (where allowed) and
    // times; then removes ENTRY.json. No link on the way is followed.
    virtual QuarantineResult Restore(const std::string& entry, const QuarantineFacts& facts) = 0;
};

// Opens the folder, creating it (mode 0700) when create is set and it is
// missing. Throws qirn::Failure when it is not a folder of this user's that
// only this user may enter.
std::unique_ptr<QuarantineFolder> OpenQuarantineFolder(const std::filesystem::path& folder, bool create);

}  // namespace qirn
