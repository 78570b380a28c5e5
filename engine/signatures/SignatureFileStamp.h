#pragma once

// The stamp of the signature file: its size, times and identity, compared
// with those seen at the last load to tell whether it changed.

#include "engine/platform/FileSystem.h"

#include <cstdint>
#include <filesystem>

namespace qirn {

struct SignatureFileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    FileIdentity identity;
    friend bool operator==(const SignatureFileStamp&, const SignatureFileStamp&) = default;
};

// The stamp of the file a path names, links followed; a path that cannot be
// examined gives a stamp with exists false.
SignatureFileStamp StampOf(const std::filesystem::path& file);

// Whether a stamp taken at nowNs can tell the next change of the file: only
// once its times are older than the file system's time resolution. Times
// with no fraction of a second come from a file system that keeps whole
// seconds (or two), and get the coarse window.
bool StampTrusted(
    const SignatureFileStamp& stamp, std::int64_t nowNs, std::int64_t fineWindowNs, std::int64_t coarseWindowNs);

}  // namespace qirn
