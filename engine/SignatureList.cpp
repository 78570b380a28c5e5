#include "engine/SignatureList.h"

#include "engine/Failure.h"
#include "engine/Parse.h"
#include "engine/Platform.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <string>

namespace qirn {

namespace {

bool SameDigest(const Md5Digest& a, const Md5Digest& b)
{
    std::uint64_t a0 = 0, a1 = 0, b0 = 0, b1 = 0;
    std::memcpy(&a0, a.data(), 8);
    std::memcpy(&a1, a.data() + 8, 8);
    std::memcpy(&b0, b.data(), 8);
    std::memcpy(&b1, b.data() + 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// Signature lines are read in pieces of this size, so the whole file is never
// held in memory at once.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

}  // namespace

void SignatureList::Clear()
{
    names_.clear();
    nameEnds_.clear();
    digests_.clear();
    next_.clear();
    slots_ = std::vector<Slot>(16);
    distinct_ = 0;
}

void SignatureList::Reserve(std::size_t entries, std::size_t nameBytes)
{
    names_.reserve(nameBytes);
    nameEnds_.reserve(entries);
    digests_.reserve(entries);
    next_.reserve(entries);
    MakeRoom(entries);
}

std::string_view SignatureList::Name(std::size_t index) const
{
    const std::size_t begin = index == 0 ? 0 : nameEnds_[index - 1];
    return std::string_view(names_).substr(begin, nameEnds_[index] - begin);
}

std::size_t SignatureList::LongestProbe() const
{
    std::size_t longest = 0;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].last != kNone) {
            const std::size_t home = HomeOf(HashOf(digests_[slots_[slot].last]));
            longest = std::max(longest, (slot - home) & (slots_.size() - 1));
        }
    }
    return longest;
}

std::uint32_t SignatureList::FindLast(const Md5Digest& digest) const
{
    if (slots_.empty())
        return kNone;
    const std::uint64_t hash = HashOf(digest);
    const auto tag = static_cast<std::uint32_t>(hash);
    for (std::size_t slot = HomeOf(hash);; slot = (slot + 1) & (slots_.size() - 1)) {
        const Slot& at = slots_[slot];
        if (at.last == kNone || (at.tag == tag && SameDigest(digests_[at.last], digest)))
            return at.last;
    }
}

void SignatureList::MakeRoom(std::size_t distinct)
{
    std::size_t wanted = std::max<std::size_t>(slots_.size(), 16);
    while (distinct * 4 > wanted * 3)
        wanted *= 2;
    if (wanted > slots_.size())
        Rehash(wanted);
}

void SignatureList::Rehash(std::size_t slotCount)
{
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(slotCount, Slot{});
    for (const Slot& moving : old) {
        if (moving.last == kNone)
            continue;
        std::size_t slot = HomeOf(HashOf(digests_[moving.last]));
        while (slots_[slot].last != kNone)
            slot = (slot + 1) & (slots_.size() - 1);
        slots_[slot] = moving;
    }
}

void SignatureList::Insert(std::uint32_t entry, const Md5Digest& digest, std::uint64_t hash)
{
    const auto tag = static_cast<std::uint32_t>(hash);
    std::size_t slot = HomeOf(hash);
    for (;; slot = (slot + 1) & (slots_.size() - 1)) {
        Slot& at = slots_[slot];
        if (at.last == kNone) {
            at = {tag, entry};
            ++distinct_;
            return;
        }
        if (at.tag == tag && SameDigest(digests_[at.last], digest)) {
            next_[entry] = next_[at.last];
            next_[at.last] = entry;
            at.last = entry;
            return;
        }
    }
}

void SignatureList::Append(std::string_view digestText, std::string_view name)
{
    const SignatureFields one{digestText, name};
    Append(std::span(&one, 1));
}

void SignatureList::Append(std::span<const SignatureFields> signatures)
{
    // Index slots are random memory accesses: a group's slots are fetched
    // together before any of them is used.
    constexpr std::size_t kGroup = 32;
    if (signatures.size() >= kNone - nameEnds_.size())
        throw Failure(kTooManySignatures, "too many signatures");
    MakeRoom(distinct_ + signatures.size());

    std::array<std::optional<Md5Digest>, kGroup> digests;
    std::array<std::uint64_t, kGroup> hashes{};
    while (!signatures.empty()) {
        const auto group = signatures.first(std::min(kGroup, signatures.size()));
        signatures = signatures.subspan(group.size());
        for (std::size_t i = 0; i < group.size(); ++i) {
            digests[i] = DigestFromText(group[i].digestText);
            if (digests[i]) {
                hashes[i] = HashOf(*digests[i]);
                __builtin_prefetch(&slots_[HomeOf(hashes[i])]);
            }
        }
        for (std::size_t i = 0; i < group.size(); ++i) {
            const auto entry = static_cast<std::uint32_t>(nameEnds_.size());
            names_.append(group[i].name);
            nameEnds_.push_back(names_.size());
            digests_.push_back(digests[i].value_or(Md5Digest{}));
            next_.push_back(entry);
            if (digests[i])
                Insert(entry, *digests[i], hashes[i]);
        }
    }
}

void LoadSignatures(SignatureList& list, const std::filesystem::path& file)
{
    list.Clear();
    AppendSignatureFile(list, file);
}

void AppendSignatureFile(SignatureList& list, const std::filesystem::path& file)
{
    InputFile input(file, Links::Followed);
    const auto fileSize = static_cast<std::size_t>(input.Size());
    const std::string where = TextFromPath(file);
    // Storage grows with the lines read, never with the file's size: a sparse
    // file is mostly NUL bytes, which hold no signature line.
    std::vector<char> buffer;
    std::size_t filled = 0;
    std::size_t linesBefore = 0;
    bool any = false;
    // The rest of a line that holds NUL, up to its LF, is not kept.
    bool dropping = false;
    constexpr std::size_t kBatch = 1024;
    std::vector<SignatureFields> batch;

    // Appends the signature lines of text; throws at a line without "=".
    const auto take = [&](std::string_view text) {
        SignatureLines lines(text, linesBefore);
        std::string_view line;
        SignatureFields fields;
        batch.clear();
        while (lines.Next(line)) {
            any = true;
            if (!SplitSignatureLine(line, '=', fields)) {
                list.Append(batch);
                throw MissingSeparatorFailure(where, lines.LineNumber());
            }
            batch.push_back(fields);
            if (batch.size() == kBatch) {
                list.Append(batch);
                batch.clear();
            }
        }
        list.Append(batch);
        linesBefore = lines.LineNumber();
    };

    try {
        buffer.resize(std::min(kReadPiece, fileSize + 1));
        batch.reserve(kBatch);
        for (;;) {
            const auto rest = std::as_writable_bytes(std::span(buffer)).subspan(filled);
            const std::size_t got = input.Read(rest);
            filled += got;
            const bool atEnd = got < rest.size();
            std::string_view text(buffer.data(), filled);
            if (dropping) {
                const std::size_t end = text.find('\n');
                if (end == std::string_view::npos) {
                    filled = 0;
                    if (atEnd)
                        break;
                    continue;
                }
                dropping = false;
                ++linesBefore;
                text.remove_prefix(end + 1);
            }
            if (atEnd) {
                take(text);
                break;
            }
            // Take the complete lines; what follows the last LF waits for more.
            const std::size_t lastEnd = text.rfind('\n');
            std::string_view tail = text;
            if (lastEnd != std::string_view::npos) {
                take(text.substr(0, lastEnd + 1));
                tail = text.substr(lastEnd + 1);
            }
            std::memmove(buffer.data(), tail.data(), tail.size());
            filled = tail.size();
            if (lastEnd == std::string_view::npos) {
                if (tail.find('\0') != std::string_view::npos) {
                    dropping = true;
                    filled = 0;
                } else {
                    buffer.resize(buffer.size() * 2);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        const std::size_t wanted = list.Count() + batch.size();
        // Gives the memory back, so that the caller can go on without signatures.
        list = SignatureList();
        batch = {};
        buffer = {};
        throw Failure(kNotEnoughMemory, "not enough memory for " + std::to_string(wanted) + " signatures");
    }
    if (!any)
        throw NoSignatureLineFailure(where);
}

}  // namespace qirn
