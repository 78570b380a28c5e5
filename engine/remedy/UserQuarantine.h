#pragma once

// This user's quarantine folder: Delete in the window keeps each file there,
// qirn-scan --restore DIR/ENTRY brings one back, and no scan walks into it.

#include "engine/remedy/FileRemoval.h"

#include <chrono>
#include <cstddef>
#include <filesystem>

namespace qirn {

// How long Delete keeps a file before start-up removes it for good.
inline constexpr std::chrono::days kQuarantineKeptFor{30};

// $XDG_DATA_HOME/qirn-checker/quarantine, or ~/.local/share/...; empty when
// there is no data folder.
std::filesystem::path DefaultQuarantineFolder();

// Delete in the window: the detected file taken with RemoveDetectedFile's
// checks and results, but kept in folder (made, mode 0700, when missing) with
// its record. A folder that cannot be used refuses, and the file stays.
RemovalResult QuarantineDetectedFile(const DetectedFile& detected, const std::filesystem::path& folder);

// Removes the entries of folder whose record says they were quarantined more
// than kQuarantineKeptFor before now; entries without a readable record stay.
// A folder that is missing or not this user's alone is left as it is.
// Returns how many went.
std::size_t PruneQuarantine(const std::filesystem::path& folder, std::chrono::system_clock::time_point now);

}  // namespace qirn
