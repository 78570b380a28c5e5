#include "cli/SignatureDedup.h"

#include "engine/digest/Digest.h"

#include <cstring>
#include <stdexcept>

namespace qirn {

namespace {

template <std::size_t N>
std::uint64_t HashOf(const HashKey& key, const std::array<std::uint8_t, N>& digest)
{
    return KeyedHash(key, digest);
}

template <class Record>
void Fill(Record& record, std::string_view digestText)
{
    // The caller checked the text.
    if constexpr (sizeof record.digest == sizeof(Md5Digest))
        record.digest = *DigestFromText(digestText);
    else
        record.digest = *Sha256FromText(digestText);
}

}  // namespace

template <std::size_t N>
std::uint32_t SignatureDedup::Table<N>::Insert(const HashKey& key, const Record& record, std::uint64_t hash)
{
    if ((used + 1) * 4 > slots.size() * 3)
        Grow(key);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        Record& at = slots[slot];
        if (at.entry == kNone) {
            at = record;
            ++used;
            return record.entry;
        }
        if (at.digest == record.digest)
            return at.entry;
    }
}

template <std::size_t N>
void SignatureDedup::Table<N>::Grow(const HashKey& key)
{
    std::vector<Record> old = std::move(slots);
    slots.assign(old.size() * 2, Record{});
    const std::size_t mask = slots.size() - 1;
    for (const Record& moving : old) {
        if (moving.entry == kNone)
            continue;
        std::size_t slot = HashOf(key, moving.digest) & mask;
        while (slots[slot].entry != kNone)
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
        if (moving.number == kNone)
            continue;
        const std::string& name = names_[moving.number];
        const std::uint64_t hash =
            KeyedHash(key_, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        std::size_t slot = hash & mask;
        while (nameSlots_[slot].number != kNone)
            slot = (slot + 1) & mask;
        nameSlots_[slot] = moving;
    }
}

std::uint32_t SignatureDedup::Name(std::string_view name)
{
    if (lastName_ == nullptr || name != *lastName_) {
        if ((names_.size() + 1) * 2 > nameSlots_.size())
            GrowNames();
        const std::uint64_t hash =
            KeyedHash(key_, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = nameSlots_.size() - 1;
        std::size_t slot = hash & mask;
        while (nameSlots_[slot].number != kNone &&
            (nameSlots_[slot].tag != tag || names_[nameSlots_[slot].number] != name))
            slot = (slot + 1) & mask;
        if (nameSlots_[slot].number == kNone) {
            if (names_.size() >= kNone - 1)
                throw std::length_error("too many signature names");
            nameSlots_[slot] = {tag, static_cast<std::uint32_t>(names_.size())};
            names_.emplace_back(name);
        }
        // A deque keeps its elements where they are as it grows.
        lastNumber_ = nameSlots_[slot].number;
        lastName_ = &names_[lastNumber_];
    }
    return lastNumber_;
}

// At most kMaxNames per digest, so that the walk along them stays short
// whatever a list repeats.
void SignatureDedup::AddName(Entry& entry, std::uint32_t name)
{
    if (entry.firstName == name)
        return;
    std::uint32_t* link = &entry.moreNames;
    while (*link != kNone) {
        if (moreNames_[*link].name == name)
            return;
        link = &moreNames_[*link].next;
    }
    if (entry.names >= kMaxNames) {
        ++namesLeftOut_;
        return;
    }
    if (moreNames_.size() >= kNone)
        throw std::length_error("too many signature names");
    *link = static_cast<std::uint32_t>(moreNames_.size());
    moreNames_.push_back({name, kNone});
    ++entry.names;
}

void SignatureDedup::Check(const Waiting& pair)
{
    if (entries_.size() >= kNone)
        throw std::length_error("too many signatures");
    const auto next = static_cast<std::uint32_t>(entries_.size());
    std::uint32_t at = 0;
    if (pair.isSha256) {
        Table<32>::Record record = pair.sha256;
        record.entry = next;
        at = sha256_.Insert(key_, record, pair.hash);
    } else {
        Table<16>::Record record = pair.md5;
        record.entry = next;
        at = md5_.Insert(key_, record, pair.hash);
    }
    if (at != next) {
        Entry& entry = entries_[at];
        if (pair.large && !entry.large) {
            entry.large = true;
            ++large_;
        }
        AddName(entry, pair.name);
        return;
    }
    Entry entry;
    entry.firstName = pair.name;
    entry.isSha256 = pair.isSha256;
    entry.large = pair.large;
    if (pair.isSha256) {
        entry.digestAt = static_cast<std::uint32_t>(sha256s_.size());
        sha256s_.push_back(pair.sha256.digest);
    } else {
        entry.digestAt = static_cast<std::uint32_t>(md5s_.size());
        md5s_.push_back(pair.md5.digest);
    }
    large_ += pair.large ? 1 : 0;
    entries_.push_back(entry);
}

void SignatureDedup::Add(std::string_view digestText, std::string_view name, bool large)
{
    if (count_ == kAhead) {
        Check(waiting_[first_]);
        first_ = (first_ + 1) % kAhead;
        --count_;
    }
    Waiting& pair = waiting_[(first_ + count_) % kAhead];
    pair.name = Name(name);
    pair.large = large;
    pair.isSha256 = digestText.size() == 64;
    if (pair.isSha256) {
        Fill(pair.sha256, digestText);
        pair.hash = HashOf(key_, pair.sha256.digest);
        sha256_.Prefetch(pair.hash);
    } else {
        Fill(pair.md5, digestText);
        pair.hash = HashOf(key_, pair.md5.digest);
        md5_.Prefetch(pair.hash);
    }
    ++count_;
}

void SignatureDedup::Finish(const Line& onLine)
{
    for (; count_ > 0; --count_) {
        Check(waiting_[first_]);
        first_ = (first_ + 1) % kAhead;
    }
    std::string names;
    for (const Entry& entry : entries_) {
        names = names_[entry.firstName];
        for (std::uint32_t more = entry.moreNames; more != kNone; more = moreNames_[more].next)
            names.append(1, kNameSeparator).append(names_[moreNames_[more].name]);
        onLine(
            entry.isSha256 ? mdlMD5::DigestToHex(sha256s_[entry.digestAt]) : mdlMD5::DigestToHex(md5s_[entry.digestAt]),
            names);
    }
}

}  // namespace qirn
