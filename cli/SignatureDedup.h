#pragma once

// The set of (digest, name) pairs written so far, so that each is written
// once. Names are kept once each; a pair costs its digest and a name number.
// Pairs are checked a few lines behind their arrival: the table slot of each
// is fetched from memory meanwhile, which spares the wait on a table far
// larger than the caches.

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
    // Receives each new pair once, in the order the pairs were added.
    using NewPair = std::function<void(std::string_view digestText, std::string_view name)>;

    explicit SignatureDedup(NewPair onNew) : onNew_(std::move(onNew)) { }

    // digestText: 32 or 64 lowercase hex digits.
    void Add(std::string_view digestText, std::string_view name);
    // Checks the pairs still waiting; call it before using what onNew got.
    void Finish();

private:
    // A digest of N bytes and its name's number; name UINT32_MAX marks a free slot.
    template <std::size_t N>
    struct Table {
        struct Record {
            std::array<std::uint8_t, N> digest{};
            std::uint32_t name = UINT32_MAX;
        };
        std::vector<Record> slots = std::vector<Record>(1024);
        std::size_t used = 0;

        // hash is HashOf(record).
        bool Insert(const HashKey& key, const Record& record, std::uint64_t hash);
        // Importing 2 million lines took 1.16 times as long without it
        // (bench/README.md, "Measured micro-tuning").
        void Prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots[hash & (slots.size() - 1)]); }
        void Grow(const HashKey& key);
    };

    // A pair waiting for its check.
    struct Waiting {
        Table<16>::Record md5;
        Table<32>::Record sha256;
        bool isSha256 = false;
        std::uint64_t hash = 0;
        const std::string* name = nullptr;
    };
    static constexpr std::size_t kAhead = 16;

    void Check(const Waiting& pair);
    const std::string* Name(std::string_view name, std::uint32_t& number);

    // Names in an open-addressing table: each slot holds the high half of
    // the name's keyed hash (keyed: names are chosen by whoever wrote the
    // list) and its number; the names themselves stay put in a deque.
    struct NameSlot {
        std::uint32_t tag = 0;
        std::uint32_t number = UINT32_MAX;
    };
    void GrowNames();

    NewPair onNew_;
    HashKey key_ = ProcessHashKey();
    std::vector<NameSlot> nameSlots_ = std::vector<NameSlot>(1024);
    std::deque<std::string> names_;
    // Lists often give many lines in a row one name (a plain list its own).
    const std::string* lastName_ = nullptr;
    std::uint32_t lastNumber_ = 0;
    Table<16> md5_;
    Table<32> sha256_;
    std::array<Waiting, kAhead> waiting_{};
    std::size_t first_ = 0;  // the oldest waiting pair
    std::size_t count_ = 0;
};

}  // namespace qirn
