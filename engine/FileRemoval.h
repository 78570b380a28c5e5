#pragma once

// Deleting a detected file, and only the file that was detected.

#include "engine/FileSystem.h"

#include <filesystem>
#include <string>

namespace qirn {

struct RemovalResult {
    enum class Status {
        Deleted,
        Missing,     // nothing at the path: nothing to do
        Replaced,    // the entry is no longer the regular file that was detected
        StillThere,  // deleting failed; errorText says why
    };
    Status status = Status::Missing;
    std::string errorText;
};

// Removes the directory entry at path itself, never through a link, when it
// is still the regular file with the given identity. Transient failures are
// retried a bounded number of times.
RemovalResult RemoveDetectedFile(const std::filesystem::path& path, const FileIdentity& identity);

}  // namespace qirn
