#pragma once

// Digests of files the guard has read, by file identity, so that a file
// opened again unchanged is judged without a read. Digests rather than
// verdicts: a reloaded signature list then applies to every kept file.

#include "engine/digest/Digest.h"
#include "engine/scan/DigestLookup.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace qirn {

class VerdictCache {
public:
    // settleNs as for DigestTrusted; at most maxEntries files are kept.
    VerdictCache(std::int64_t settleNs, std::size_t maxEntries);

    // Any thread: the digests kept for a file stamped so, when they may stand for it.
    std::optional<FileDigests> Trusted(const FileStamp& stamp, bool needSha256) const;
    // Any thread: what a read found. The stamp is that of the file before the read.
    void Keep(const CachedDigest& digest);
    std::size_t Size() const;

private:
    struct IdentityHash {
        std::size_t operator()(const FileIdentity& identity) const noexcept
        {
            return std::hash<std::uint64_t>{}(identity.inode * 0x9e3779b97f4a7c15 ^ identity.device);
        }
    };

    std::int64_t settleNs_;
    std::size_t maxEntries_;
    mutable std::mutex mutex_;
    std::unordered_map<FileIdentity, CachedDigest, IdentityHash> kept_;
};

}  // namespace qirn
