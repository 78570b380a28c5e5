#pragma once

// The stamp of a file named by path (the signature file): compared with the
// one seen at the last load, it tells whether the file changed.

#include "engine/platform/FileSystem.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace qirn {

// The stamp of the file a path names, links followed; none when the path
// cannot be examined.
std::optional<FileStamp> StampOf(const std::filesystem::path& file);

// Whether a stamp taken at nowNs can tell the next change of the file: only
// once its times are older than the file system's time resolution. Times
// with no fraction of a second come from a file system that keeps whole
// seconds (or two), and get the coarse window. No file is trusted as such.
bool StampTrusted(
    const std::optional<FileStamp>& stamp, std::int64_t nowNs, std::int64_t fineWindowNs, std::int64_t coarseWindowNs);

}  // namespace qirn
