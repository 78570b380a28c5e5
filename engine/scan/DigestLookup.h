#pragma once

// Digests kept from earlier scans, as a walk asks for them: a file whose
// stamp has not changed since it was read need not be read again.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace qirn {

struct CachedDigest {
    FileStamp stamp;          // of the file whose content was read
    std::int64_t readNs = 0;  // when the read began
    Md5Digest md5{};
    std::optional<Sha256Digest> sha256;
};

class DigestLookup {
public:
    // A digest as the lookup keeps it; what else it keeps beside it is its own.
    struct Kept {
        CachedDigest digest;
    };

    virtual ~DigestLookup() = default;

    // Any thread. True until what is kept is in; the walk holds files meanwhile.
    virtual bool Loading() const = 0;
    // Any thread; waits for the load. With nothing kept, files are not stamped first.
    virtual bool Empty() const = 0;
    // Any thread: what is kept for a file stamped so, when it may stand for
    // the file and holds a SHA-256 where one is needed; else null.
    virtual const Kept* Trusted(const FileStamp& stamp, bool needSha256) const = 0;

    // The walk thread, in walk order, for each file examined: read now, or
    // taken from what Trusted returned. folderPath is as the walk names it.
    virtual void Read(std::string_view folderPath, std::string_view name, const FileStamp& stamp, std::int64_t readNs,
        const FileDigests& digests) = 0;
    virtual void Reused(std::string_view folderPath, std::string_view name, const Kept& kept) = 0;
};

// Nanoseconds since the epoch on the clock that stamps file times.
std::int64_t WallClockNs();

}  // namespace qirn
