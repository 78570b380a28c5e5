#pragma once

// The signature list: names in file order and an index per digest kind from
// digest to the entries that carry it. Only a digest text of exactly 32 (MD5)
// or 64 (SHA-256) lowercase hex digits can ever match a file; any other text
// is kept as an entry that never matches.

#include "engine/GrowingArray.h"
#include "engine/digest/Digest.h"
#include "engine/signatures/DigestIndex.h"
#include "engine/signatures/Parse.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class SignatureList {
public:
    void Clear();
    // Room for entries signatures, sha256Entries of them SHA-256 ones.
    void Reserve(std::size_t entries, std::size_t nameBytes, std::size_t sha256Entries = 0);
    void Append(std::string_view digestText, std::string_view name);
    // The same for many signatures at once, which is much faster for long lists.
    void Append(std::span<const SignatureFields> signatures);

    std::size_t Count() const { return nameEnds_.Size(); }
    std::string_view Name(std::size_t index) const;
    // Whether any entry can match a file's SHA-256: only then is it computed.
    bool HasSha256() const { return !sha256Index_.Empty(); }
    // The longest distance of an index slot from its hash's home slot: what
    // the worst lookup costs.
    std::size_t LongestProbe() const;

    // Calls onName(name) for every entry whose digest is digest, in list order.
    template <class F>
    void ForEachMatch(const Md5Digest& digest, F&& onName) const
    {
        ForEachInRing(md5Index_.FindLast(digest), onName);
    }
    template <class F>
    void ForEachMatch(const Sha256Digest& digest, F&& onName) const
    {
        ForEachInRing(sha256Index_.FindLast(digest), onName);
    }
    // Both digests of a file; the entries of either come in list order.
    template <class F>
    void ForEachMatch(const FileDigests& digests, F&& onName) const
    {
        const std::uint32_t md5Last = md5Index_.FindLast(digests.md5);
        const std::uint32_t sha256Last = digests.sha256 ? sha256Index_.FindLast(*digests.sha256) : kNone;
        if (md5Last == kNone || sha256Last == kNone) {
            ForEachInRing(md5Last, onName);
            ForEachInRing(sha256Last, onName);
            return;
        }
        // Each ring is in list order: merged, so are the hits.
        std::uint32_t md5Entry = next_[md5Last];
        std::uint32_t sha256Entry = next_[sha256Last];
        bool md5Done = false;
        bool sha256Done = false;
        while (!md5Done || !sha256Done) {
            if (!sha256Done && (md5Done || sha256Entry < md5Entry)) {
                onName(Name(sha256Entry));
                sha256Done = sha256Entry == sha256Last;
                sha256Entry = next_[sha256Entry];
            } else {
                onName(Name(md5Entry));
                md5Done = md5Entry == md5Last;
                md5Entry = next_[md5Entry];
            }
        }
    }

private:
    static constexpr std::uint32_t kNone = DigestIndex<Md5Digest>::kNone;

    template <class F>
    void ForEachInRing(std::uint32_t last, F& onName) const
    {
        if (last == kNone)
            return;
        std::uint32_t entry = last;
        do {
            entry = next_[entry];
            onName(Name(entry));
        } while (entry != last);
    }

    GrowingArray<char> names_;
    GrowingArray<std::uint64_t> nameEnds_;
    // Entries of one digest form a ring in list order; see DigestIndex.
    GrowingArray<std::uint32_t> next_;
    DigestIndex<Md5Digest> md5Index_;
    DigestIndex<Sha256Digest> sha256Index_;
};

// Rebuilds list from the signature file. On failure the list holds the
// entries of the lines before the failing one; the failure is thrown.
void LoadSignatures(SignatureList& list, const std::filesystem::path& file);
// The same without emptying list first: the file's entries follow the ones it holds.
void AppendSignatureFile(SignatureList& list, const std::filesystem::path& file);

}  // namespace qirn
