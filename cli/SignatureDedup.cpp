#include "cli/SignatureDedup.h"

#include <cstring>
#include <stdexcept>

namespace qirn {

namespace {

int HexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

template <class Record>
std::uint64_t HashOf(const HashKey& key, const Record& record)
{
    std::array<std::uint8_t, sizeof record.digest + 4> bytes{};
    std::memcpy(bytes.data(), record.digest.data(), record.digest.size());
    std::memcpy(bytes.data() + record.digest.size(), &record.name, 4);
    return KeyedHash(key, bytes);
}

}  // namespace

template <std::size_t N>
bool SignatureDedup::Table<N>::Insert(const HashKey& key, const Record& record)
{
    if ((used + 1) * 4 > slots.size() * 3)
        Grow(key);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = HashOf(key, record) & mask;; slot = (slot + 1) & mask) {
        Record& at = slots[slot];
        if (at.name == UINT32_MAX) {
            at = record;
            ++used;
            return true;
        }
        if (at.name == record.name && at.digest == record.digest)
            return false;
    }
}

template <std::size_t N>
void SignatureDedup::Table<N>::Grow(const HashKey& key)
{
    std::vector<Record> old = std::move(slots);
    slots.assign(old.size() * 2, Record{});
    const std::size_t mask = slots.size() - 1;
    for (const Record& moving : old) {
        if (moving.name == UINT32_MAX)
            continue;
        std::size_t slot = HashOf(key, moving) & mask;
        while (slots[slot].name != UINT32_MAX)
            slot = (slot + 1) & mask;
        slots[slot] = moving;
    }
}

std::uint32_t SignatureDedup::NameNumber(std::string_view name)
{
    if (const auto known = names_.find(name); known != names_.end())
        return known->second;
    if (names_.size() >= UINT32_MAX - 1)
        throw std::length_error("too many signature names");
    return names_.emplace(std::string(name), static_cast<std::uint32_t>(names_.size())).first->second;
}

bool SignatureDedup::Insert(std::string_view digestText, std::string_view name)
{
    const std::uint32_t number = NameNumber(name);
    const auto fill = [&](auto& digest) {
        for (std::size_t i = 0; i < digest.size(); ++i)
            digest[i] = static_cast<std::uint8_t>(HexValue(digestText[2 * i]) * 16 + HexValue(digestText[2 * i + 1]));
    };
    if (digestText.size() == 32) {
        Table<16>::Record record;
        fill(record.digest);
        record.name = number;
        return md5_.Insert(key_, record);
    }
    Table<32>::Record record;
    fill(record.digest);
    record.name = number;
    return sha256_.Insert(key_, record);
}

}  // namespace qirn
