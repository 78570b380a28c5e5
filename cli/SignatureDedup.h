#pragma once

// The set of (digest, name) pairs written so far, so that each is written
// once. Names are kept once each; a pair costs its digest and a name number.

#include "engine/KeyedHash.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qirn {

class SignatureDedup {
public:
    // digestText: 32 or 64 lowercase hex digits. True when the pair is new.
    bool Insert(std::string_view digestText, std::string_view name);

private:
    // A digest of N bytes and its name's number; name kNoName marks a free slot.
    template <std::size_t N>
    struct Table {
        struct Record {
            std::array<std::uint8_t, N> digest{};
            std::uint32_t name = UINT32_MAX;
        };
        std::vector<Record> slots = std::vector<Record>(1024);
        std::size_t used = 0;

        bool Insert(const HashKey& key, const Record& record);
        void Grow(const HashKey& key);
    };

    std::uint32_t NameNumber(std::string_view name);

    struct NameHash {
        using is_transparent = void;  // NOLINT(readability-identifier-naming): looked up by the standard library
        // Keyed: names in an imported list are chosen by whoever wrote it.
        std::size_t operator()(std::string_view name) const
        {
            return KeyedHash(
                ProcessHashKey(), std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        }
    };

    HashKey key_ = ProcessHashKey();
    std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> names_;
    Table<16> md5_;
    Table<32> sha256_;
};

}  // namespace qirn
