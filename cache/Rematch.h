#pragma once

// Re-checks the digests kept by earlier scans against the current signature
// list without walking: a cached digest that matches is confirmed by reading
// the file again before it is reported. With SHA-256 signatures, a file whose
// entry holds no SHA-256 yet is read once to fill it in. Files new or changed
// since their last scan are not covered.

#include "cache/DigestCache.h"
#include "engine/scan/ScanSink.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace qirn {

class SignatureList;

struct RematchCounts {
    std::uint64_t cached = 0;     // digests of files last seen under the folder
    std::uint64_t confirmed = 0;  // files read again whose digest still matches
    std::uint64_t changed = 0;    // matched files that are gone or are now another file
    std::uint64_t filled = 0;     // entries read again for the SHA-256 they lacked
    std::uint64_t tooLarge = 0;   // kept files longer than this rematch's size limit, left unread
};

struct RematchHit {
    std::filesystem::path path;
    std::string_view signatureName;
    FileDigests digests;
    std::uint64_t size = 0;
    FileIdentity identity;
};

// Hits come in path order, one per matching signature; files that cannot be
// read again go to sink.Unreadable.
RematchCounts Rematch(DigestCache& cache, const std::string& folder, std::int32_t sizeLimit,
    const SignatureList& signatures, const std::function<void(const RematchHit&)>& onHit, ScanSink& sink);

}  // namespace qirn
