#pragma once

// Taking a detected file out of the scanned tree: only the file that was
// detected, with the content it had then, and never through a link. The entry
// is first moved into a private folder of the program's on the same file
// system, where nobody else can rename, swap or replace it, and checked there;
// anything that is not the detected file goes back where it was.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"
#include "engine/scan/FindFiles.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qirn {

// No scan digests a longer file.
inline constexpr std::uint64_t kLargestDigested = mdlFindFiles::kLargestSizeLimit;

// What a hit says about the file it found.
struct DetectedFile {
    std::filesystem::path path;             // native bytes
    FileIdentity identity;                  // of the file digested
    Md5Digest digest;                       // of its content then
    std::vector<std::string> signatures{};  // names of its hits, for a quarantine record
};

struct RemovalResult {
    enum class Status {
        Deleted,
        Missing,     // nothing at the path: nothing to do
        Replaced,    // the entry is no longer the file that was detected; it stays
        Changed,     // the detected file holds other content now; it stays
        Refused,     // it cannot be set aside safely; nothing was touched
        StillThere,  // removing failed
    };
    Status status = Status::Missing;
    std::string errorText;  // why it is still there, for the user
    // Where the entry is now when it could not go back under its own name.
    std::filesystem::path keptAs;
};

// The detected file, set aside in the private folder and checked to be the
// detected file with the detected content. Put back where it came from on
// destruction unless it was removed.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    // The content that was checked.
    virtual std::span<const std::byte> Content() const = 0;
    // Removes it for good: Deleted, or StillThere after putting it back.
    virtual RemovalResult Remove() = 0;
};

struct Seizure {
    std::unique_ptr<HeldFile> held;  // null when it was not taken
    RemovalResult result;            // why not, when held is null
};

// Sets the detected file aside; the platform's part.
Seizure SeizeDetectedFile(const DetectedFile& detected);

// Sets the detected file aside, then removes it.
RemovalResult RemoveDetectedFile(const DetectedFile& detected);

}  // namespace qirn
