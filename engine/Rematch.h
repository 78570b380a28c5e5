#pragma once

// Re-checks the digests kept by earlier scans against the current signature
// list without walking: a cached digest that matches is confirmed by reading
// the file again before it is reported. Files new or changed since their last
// scan are not covered.

#include "engine/DigestCache.h"
#include "engine/ScanElements.h"

#include <cstdint>
#include <string>

namespace qirn {

struct RematchCounts {
    std::uint64_t cached = 0;     // digests of files last seen under the folder
    std::uint64_t confirmed = 0;  // files read again whose digest still matches
    std::uint64_t changed = 0;    // matched files that are gone or are now another file
};

// Hits go to infections in path order; files that cannot be read again go to problems.
RematchCounts Rematch(DigestCache& cache, const std::string& folder, std::int32_t sizeLimit,
    const SignatureList& signatures, InfectionList& infections, ProblemLog* problems);

}  // namespace qirn
