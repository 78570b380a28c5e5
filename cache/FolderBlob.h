#pragma once

// The cached files of one folder, kept as one blob: a row per folder costs
// the cache's writer a tenth of a row per file. Each file is a fixed head
// (lengths, flags, identity, size, times, MD5) followed by its SHA-256 where
// it has one, its name and its mount key, in the machine's byte order.

#include "engine/scan/DigestLookup.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qirn {

struct CachedFile {
    std::string_view name;
    CachedDigest digest;
    std::int64_t seenNs = 0;
    std::string_view mount;  // MountScope::key; empty: any
};

class FolderBlob {
public:
    // False, and nothing kept, when the name or mount key is too long for the format.
    bool Add(const CachedFile& file);
    void Clear();

    std::string_view Bytes() const { return bytes_; }
    std::size_t Files() const { return files_; }
    // 0 without files.
    std::int64_t NewestSeenNs() const { return newestSeenNs_; }

private:
    std::string bytes_;
    std::size_t files_ = 0;
    std::int64_t newestSeenNs_ = 0;
};

// Calls visit for each file in blob, in order; the views live during the
// call. False when the blob ends inside a file: the files after it are lost.
bool ForEachCachedFile(std::string_view blob, const std::function<void(const CachedFile&)>& visit);

}  // namespace qirn
