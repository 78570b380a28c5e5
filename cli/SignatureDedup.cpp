#include "cli/SignatureDedup.h"

#include "engine/digest/Digest.h"

#include <cstring>
#include <stdexcept>

namespace qirn {

namespace {

template <class Record>
std::uint64_t HashOf(const HashKey& key, const Record& record)
{
    std::array<std::uint8_t, sizeof record.digest + 4> bytes{};
    std::memcpy(bytes.data(), record.digest.data(), record.digest.size());
    std::memcpy(bytes.data() + record.digest.size(), &record.name, 4);
    return KeyedHash(key, bytes);
}

template <class Record>
void Fill(Record& record, std::string_view digestText, std::uint32_t name)
{
    // The caller checked the text.
    if constexpr (sizeof record.digest == sizeof(Md5Digest))
        record.digest = *DigestFromText(digestText);
    else
        record.digest = *Sha256FromText(digestText);
    record.name = name;
}

}  // namespace

template <std::size_t N>
bool SignatureDedup::Table<N>::Insert(const HashKey& key, const Record& record, std::uint64_t hash)
{
    if ((used + 1) * 4 > slots.size() * 3)
        Grow(key);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
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

void SignatureDedup::GrowNames()
{
    std::vector<NameSlot> old = std::move(nameSlots_);
    nameSlots_.assign(old.size() * 2, NameSlot{});
    const std::size_t mask = nameSlots_.size() - 1;
    for (const NameSlot& moving : old) {
        if (moving.number == UINT32_MAX)
            continue;
        const std::string& name = names_[moving.number];
        const std::uint64_t hash =
            KeyedHash(key_, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        std::size_t slot = hash & mask;
        while (nameSlots_[slot].number != UINT32_MAX)
            slot = (slot + 1) & mask;
        nameSlots_[slot] = moving;
    }
}

const std::string* SignatureDedup::Name(std::string_view name, std::uint32_t& number)
{
    if (lastName_ == nullptr || name != *lastName_) {
        if ((names_.size() + 1) * 2 > nameSlots_.size())
            GrowNames();
        const std::uint64_t hash =
            KeyedHash(key_, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = nameSlots_.size() - 1;
        std::size_t slot = hash & mask;
        while (nameSlots_[slot].number != UINT32_MAX &&
            (nameSlots_[slot].tag != tag || names_[nameSlots_[slot].number] != name))
            slot = (slot + 1) & mask;
        if (nameSlots_[slot].number == UINT32_MAX) {
            if (names_.size() >= UINT32_MAX - 1)
                throw std::length_error("too many signature names");
            nameSlots_[slot] = {tag, static_cast<std::uint32_t>(names_.size())};
            names_.emplace_back(name);
        }
        // A deque keeps its elements where they are as it grows.
        lastNumber_ = nameSlots_[slot].number;
        lastName_ = &names_[lastNumber_];
    }
    number = lastNumber_;
    return lastName_;
}

void SignatureDedup::Check(const Waiting& pair)
{
    const bool isNew =
        pair.isSha256 ? sha256_.Insert(key_, pair.sha256, pair.hash) : md5_.Insert(key_, pair.md5, pair.hash);
    if (!isNew)
        return;
    onNew_(pair.isSha256 ? mdlMD5::DigestToHex(pair.sha256.digest) : mdlMD5::DigestToHex(pair.md5.digest), *pair.name);
}

void SignatureDedup::Add(std::string_view digestText, std::string_view name)
{
    if (count_ == kAhead) {
        Check(waiting_[first_]);
        first_ = (first_ + 1) % kAhead;
        --count_;
    }
    Waiting& pair = waiting_[(first_ + count_) % kAhead];
    std::uint32_t number = 0;
    pair.name = Name(name, number);
    pair.isSha256 = digestText.size() == 64;
    if (pair.isSha256) {
        Fill(pair.sha256, digestText, number);
        pair.hash = HashOf(key_, pair.sha256);
        sha256_.Prefetch(pair.hash);
    } else {
        Fill(pair.md5, digestText, number);
        pair.hash = HashOf(key_, pair.md5);
        md5_.Prefetch(pair.hash);
    }
    ++count_;
}

void SignatureDedup::Finish()
{
    for (; count_ > 0; --count_) {
        Check(waiting_[first_]);
        first_ = (first_ + 1) % kAhead;
    }
}

}  // namespace qirn
