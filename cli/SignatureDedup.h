#pragma once

// The digests of the lists being imported, each once, with the names the
// lists give it: one line per digest, so that one file is one hit. Names are
// kept once each; a digest costs itself, a name number and its place in the
// order. Digests are looked up a few lines behind their arrival: the table
// slot of each is fetched from memory meanwhile, which spares the wait on a
// table far larger than the caches.

#include "engine/signatures/KeyedHash.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class SignatureDedup {
public:
    // At most so many names are joined for one digest; more are counted.
    static constexpr std::size_t kMaxNames = 8;
    static constexpr char kNameSeparator = '/';

    // One line per digest; names are joined by kNameSeparator.
    using Line = std::function<void(std::string_view digestText, std::string_view names)>;

    // digestText: 32 or 64 lowercase hex digits. large: the list says the
    // digest is of a file longer than a scan reads by default.
    void Add(std::string_view digestText, std::string_view name, bool large = false);
    // Each digest once, in the order digests first came, with its names in
    // the order they first came.
    void Finish(const Line& onLine);

    std::uint64_t Digests() const { return entries_.size(); }
    // Digests that some list gave as of a large file.
    std::uint64_t LargeDigests() const { return large_; }
    // Names left out because a digest had kMaxNames already.
    std::uint64_t NamesLeftOut() const { return namesLeftOut_; }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // A digest of N bytes and its entry; entry kNone marks a free slot.
    template <std::size_t N>
    struct Table {
        struct Record {
            std::array<std::uint8_t, N> digest{};
            std::uint32_t entry = kNone;
        };
        std::vector<Record> slots = std::vector<Record>(1024);
        std::size_t used = 0;

        // The entry of record's digest: its own when the digest is new.
        std::uint32_t Insert(const HashKey& key, const Record& record, std::uint64_t hash);
        // Importing 2 million lines took 1.16 times as long without it
        // (bench/README.md, "Measured micro-tuning").
        void Prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots[hash & (slots.size() - 1)]); }
        void Grow(const HashKey& key);
    };

    // One digest: where its bytes are kept, and its names.
    struct Entry {
        std::uint32_t digestAt = 0;  // in md5s_ or sha256s_
        std::uint32_t firstName = 0;
        std::uint32_t moreNames = kNone;  // the first in moreNames_
        std::uint8_t names = 1;
        bool isSha256 = false;
        bool large = false;
    };
    struct MoreName {
        std::uint32_t name = 0;
        std::uint32_t next = kNone;
    };

    // A digest waiting for its lookup.
    struct Waiting {
        Table<16>::Record md5;
        Table<32>::Record sha256;
        bool isSha256 = false;
        bool large = false;
        std::uint64_t hash = 0;
        std::uint32_t name = 0;
    };
    static constexpr std::size_t kAhead = 16;

    void Check(const Waiting& pair);
    void AddName(Entry& entry, std::uint32_t name);
    std::uint32_t Name(std::string_view name);

    // Names in an open-addressing table: each slot holds the high half of
    // the name's keyed hash (keyed: names are chosen by whoever wrote the
    // list) and its number; the names themselves stay put in a deque.
    struct NameSlot {
        std::uint32_t tag = 0;
        std::uint32_t number = kNone;
    };
    void GrowNames();

    HashKey key_ = ProcessHashKey();
    std::vector<NameSlot> nameSlots_ = std::vector<NameSlot>(1024);
    std::deque<std::string> names_;
    // Lists often give many lines in a row one name (a plain list its own).
    const std::string* lastName_ = nullptr;
    std::uint32_t lastNumber_ = 0;
    Table<16> md5_;
    Table<32> sha256_;
    std::vector<Entry> entries_;
    std::vector<MoreName> moreNames_;
    std::vector<std::array<std::uint8_t, 16>> md5s_;
    std::vector<std::array<std::uint8_t, 32>> sha256s_;
    std::uint64_t large_ = 0;
    std::uint64_t namesLeftOut_ = 0;
    std::array<Waiting, kAhead> waiting_{};
    std::size_t first_ = 0;  // the oldest waiting digest
    std::size_t count_ = 0;
};

}  // namespace qirn
