#pragma once

// An open-addressing index from digest to the last list entry that carries
// it. Entries of one digest form a ring through the list's next array, in
// list order: next of the last entry is the first.

#include "engine/GrowingArray.h"
#include "engine/signatures/KeyedHash.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

namespace qirn {

template <class Digest>
class DigestIndex {
public:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    DigestIndex() { slots_.Assign(16, Slot{}); }

    void Clear()
    {
        slots_ = GrowingArray<Slot>();
        slots_.Assign(16, Slot{});
        keys_.Clear();
    }

    bool Empty() const { return keys_.Empty(); }

    // Room for more distinct digests without rehashing.
    void MakeRoom(std::size_t more)
    {
        const std::size_t distinct = keys_.Size() + more;
        std::size_t wanted = std::max<std::size_t>(slots_.Size(), 16);
        while (distinct * 4 > wanted * 3)
            wanted *= 2;
        if (wanted > slots_.Size())
            Rehash(wanted);
    }

    void Reserve(std::size_t distinct)
    {
        MakeRoom(distinct > keys_.Size() ? distinct - keys_.Size() : 0);
        keys_.Reserve(distinct);
    }

    std::uint64_t HashOf(const Digest& digest) const { return KeyedHash(key_, digest); }

    // Fetches the home slot of hash ahead of its use.
    // Loading 2 million signatures took 1.12 times as long without it
    // (bench/README.md, "Measured micro-tuning").
    void Prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[HomeOf(TagOf(hash))]); }

    std::uint32_t FindLast(const Digest& digest) const
    {
        if (slots_.Empty())
            return kNone;
        const std::uint64_t hash = HashOf(digest);
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t slot = HomeOf(tag);; slot = (slot + 1) & (slots_.Size() - 1)) {
            const Slot& at = slots_[slot];
            if (at.key == kNone)
                return kNone;
            if (at.tag == tag && Same(keys_[at.key].digest, digest))
                return keys_[at.key].last;
        }
    }

    // Makes entry the last of its digest's ring. hash is HashOf(digest).
    void Insert(std::uint32_t entry, const Digest& digest, std::uint64_t hash, GrowingArray<std::uint32_t>& next)
    {
        const std::uint32_t tag = TagOf(hash);
        for (std::size_t slot = HomeOf(tag);; slot = (slot + 1) & (slots_.Size() - 1)) {
            Slot& at = slots_[slot];
            if (at.key == kNone) {
                at = {tag, static_cast<std::uint32_t>(keys_.Size())};
                keys_.PushBack({digest, entry});
                return;
            }
            if (at.tag == tag && Same(keys_[at.key].digest, digest)) {
                std::uint32_t& last = keys_[at.key].last;
                next[entry] = next[last];
                next[last] = entry;
                last = entry;
                return;
            }
        }
    }

    // The longest distance of a slot from its hash's home slot: what the
    // worst lookup costs.
    std::size_t LongestProbe() const
    {
        std::size_t longest = 0;
        for (std::size_t slot = 0; slot < slots_.Size(); ++slot) {
            if (slots_[slot].key != kNone) {
                const std::size_t home = HomeOf(slots_[slot].tag);
                longest = std::max(longest, (slot - home) & (slots_.Size() - 1));
            }
        }
        return longest;
    }

private:
    // The hash's high half, which gives the home slot and spares most digest
    // comparisons, and the digest's key.
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t key = kNone;
    };
    struct Key {
        Digest digest;
        std::uint32_t last;  // entry
    };

    static bool Same(const Digest& a, const Digest& b) { return std::memcmp(a.data(), b.data(), a.size()) == 0; }

    static std::uint32_t TagOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
    std::size_t HomeOf(std::uint32_t tag) const { return tag & (slots_.Size() - 1); }

    // Moves the slots in order, so the writes run through the new slots in
    // order too, and no digest is read or hashed again.
    void Rehash(std::size_t slotCount)
    {
        const GrowingArray<Slot> old = std::exchange(slots_, GrowingArray<Slot>());
        slots_.Assign(slotCount, Slot{});
        for (std::size_t at = 0; at < old.Size(); ++at) {
            const Slot& moving = old[at];
            if (moving.key == kNone)
                continue;
            std::size_t slot = HomeOf(moving.tag);
            while (slots_[slot].key != kNone)
                slot = (slot + 1) & (slots_.Size() - 1);
            slots_[slot] = moving;
        }
    }

    GrowingArray<Slot> slots_;
    GrowingArray<Key> keys_;
    // Digests are attacker-chosen: a secret key keeps them from sharing a
    // probe sequence.
    HashKey key_ = ProcessHashKey();
};

}  // namespace qirn
