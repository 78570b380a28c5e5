#include "SignatureList.h"

#include "Failure.h"
#include "Parse.h"

#include <algorithm>
#include <cstring>

namespace qirn {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<Md5Digest> DigestFromText(std::string_view text)
{
    if (text.size() != 32)
        return std::nullopt;
    Md5Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

void SignatureList::Clear()
{
    names_.clear();
    nameEnds_.clear();
    digests_.clear();
    next_.clear();
    slots_ = std::vector<std::uint32_t>(16, kNone);
    distinct_ = 0;
}

void SignatureList::Reserve(std::size_t entries, std::size_t nameBytes)
{
    names_.reserve(nameBytes);
    nameEnds_.reserve(entries);
    digests_.reserve(entries);
    next_.reserve(entries);
    std::size_t wanted = 16;
    while (wanted / 4 * 3 < entries)
        wanted *= 2;
    if (wanted > slots_.size())
        Rehash(wanted);
}

std::string_view SignatureList::Name(std::size_t index) const
{
    const std::size_t begin = index == 0 ? 0 : nameEnds_[index - 1];
    return std::string_view(names_).substr(begin, nameEnds_[index] - begin);
}

std::size_t SignatureList::SlotOf(const Md5Digest& digest) const
{
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::memcpy(&low, digest.data(), 8);
    std::memcpy(&high, digest.data() + 8, 8);
    const std::uint64_t mixed = (low ^ (high * 0x9E3779B97F4A7C15ULL)) * 0xBF58476D1CE4E5B9ULL;
    return static_cast<std::size_t>(mixed >> 32) & (slots_.size() - 1);
}

std::uint32_t SignatureList::FindLast(const Md5Digest& digest) const
{
    if (slots_.empty())
        return kNone;
    for (std::size_t slot = SlotOf(digest);; slot = (slot + 1) & (slots_.size() - 1)) {
        const std::uint32_t last = slots_[slot];
        if (last == kNone || digests_[last] == digest)
            return last;
    }
}

void SignatureList::Rehash(std::size_t slotCount)
{
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(slotCount, kNone);
    for (const std::uint32_t last : old) {
        if (last == kNone)
            continue;
        std::size_t slot = SlotOf(digests_[last]);
        while (slots_[slot] != kNone)
            slot = (slot + 1) & (slots_.size() - 1);
        slots_[slot] = last;
    }
}

void SignatureList::Append(std::string_view digestText, std::string_view name)
{
    if (nameEnds_.size() >= kNone - 1)
        throw Failure(kTooManySignatures, "too many signatures");
    const auto entry = static_cast<std::uint32_t>(nameEnds_.size());
    names_.append(name);
    nameEnds_.push_back(names_.size());

    const std::optional<Md5Digest> digest = DigestFromText(digestText);
    digests_.push_back(digest.value_or(Md5Digest{}));
    next_.push_back(entry);
    if (!digest)
        return;

    if ((distinct_ + 1) * 4 > slots_.size() * 3)
        Rehash(slots_.empty() ? 16 : slots_.size() * 2);
    std::size_t slot = SlotOf(*digest);
    while (slots_[slot] != kNone && digests_[slots_[slot]] != *digest)
        slot = (slot + 1) & (slots_.size() - 1);
    const std::uint32_t last = slots_[slot];
    if (last == kNone) {
        ++distinct_;
    } else {
        next_[entry] = next_[last];
        next_[last] = entry;
    }
    slots_[slot] = entry;
}

void LoadSignatures(SignatureList& list, const std::filesystem::path& file)
{
    list.Clear();
    const std::string text = mdlParse::ReadWholeFile(file);

    const auto lineEnds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    // Names cannot be longer than the text; untouched reserve costs no memory.
    list.Reserve(lineEnds + 1, text.size());

    SignatureLines lines(text);
    std::string_view line;
    SignatureFields fields;
    bool any = false;
    while (lines.Next(line)) {
        any = true;
        if (!SplitSignatureLine(line, '=', fields)) {
            throw Failure(kMissingSeparator, file.native() + ": line " +
                                                 std::to_string(lines.LineNumber()) +
                                                 " has no \"=\"");
        }
        list.Append(fields.digestText, fields.name);
    }
    if (!any)
        throw Failure(kNoSignatureLine, file.native() + ": no signature line");
}

std::filesystem::path ApplicationFolder()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path DefaultSignatureFile()
{
    return ApplicationFolder() / "sa.kvd";
}

}  // namespace qirn
