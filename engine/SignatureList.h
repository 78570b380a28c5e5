#pragma once

// The signature list: names in file order and an index from digest to the
// entries that carry it. Only a digest text of exactly 32 lowercase hex digits
// can ever match a file; any other text is kept as an entry that never matches.

#include "engine/Digest.h"
#include "engine/KeyedHash.h"
#include "engine/Parse.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class SignatureList {
public:
    void Clear();
    void Reserve(std::size_t entries, std::size_t nameBytes);
    void Append(std::string_view digestText, std::string_view name);
    // The same for many signatures at once, which is much faster for long lists.
    void Append(std::span<const SignatureFields> signatures);

    std::size_t Count() const { return nameEnds_.size(); }
    std::string_view Name(std::size_t index) const;
    // The longest distance of an index slot from its hash's home slot: what
    // the worst lookup costs.
    std::size_t LongestProbe() const;

    // Calls onName(name) for every entry whose digest is digest, in list order.
    template <class F>
    void ForEachMatch(const Md5Digest& digest, F&& onName) const
    {
        const std::uint32_t last = FindLast(digest);
        if (last == kNone)
            return;
        std::uint32_t entry = last;
        do {
            entry = next_[entry];
            onName(Name(entry));
        } while (entry != last);
    }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // A slot of the index: the last entry of one digest, and hash bits that
    // spare most digest comparisons.
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t last = kNone;
    };

    std::uint64_t HashOf(const Md5Digest& digest) const { return KeyedHash(key_, digest); }
    std::size_t HomeOf(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> 32) & (slots_.size() - 1); }
    std::uint32_t FindLast(const Md5Digest& digest) const;
    void Insert(std::uint32_t entry, const Md5Digest& digest, std::uint64_t hash);
    void MakeRoom(std::size_t distinct);
    void Rehash(std::size_t slotCount);

    std::string names_;
    std::vector<std::uint64_t> nameEnds_;
    std::vector<Md5Digest> digests_;
    // Entries of one digest form a ring in list order: next_ of the last entry
    // is the first, and the index slot holds the last.
    std::vector<std::uint32_t> next_;
    std::vector<Slot> slots_;
    std::size_t distinct_ = 0;
    // Digests are attacker-chosen: a secret key keeps them from sharing a
    // probe sequence.
    HashKey key_ = ProcessHashKey();
};

// Rebuilds list from the signature file. On failure the list holds the
// entries of the lines before the failing one; the failure is thrown.
void LoadSignatures(SignatureList& list, const std::filesystem::path& file);
// The same without emptying list first: the file's entries follow the ones it holds.
void AppendSignatureFile(SignatureList& list, const std::filesystem::path& file);

}  // namespace qirn
