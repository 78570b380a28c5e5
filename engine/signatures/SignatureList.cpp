#include "engine/signatures/SignatureList.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/signatures/Parse.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>
#include <string>

namespace qirn {

namespace {

// Signature lines are read in pieces of this size, so the whole file is never
// held in memory at once.
constexpr std::size_t kReadPiece = std::size_t{64} << 10;

// A first load makes room at once for as many lines as its first piece
// suggests the file holds, so that the tables and the index do not grow (and
// fault in memory) step by step; but never for more than this many, as a
// sparse file, NUL bytes after a first piece of short lines, could claim any
// number.
constexpr std::size_t kMostReserved = std::size_t{1} << 18;

void ReserveFromFirstPiece(SignatureList& list, std::string_view piece, std::size_t fileSize)
{
    std::size_t lines = 0;
    std::size_t sha256 = 0;
    for (std::size_t start = 0, end = 0; (end = piece.find('\n', start)) != std::string_view::npos; start = end + 1) {
        ++lines;
        if (end - start > 64 && piece[start + 64] == '=')
            ++sha256;
    }
    if (lines == 0)
        return;
    const std::size_t lineLength = piece.size() / lines;
    const std::size_t entries = std::min(fileSize / lineLength, kMostReserved);
    list.Reserve(entries, entries * lineLength, entries * sha256 / lines);
}

}  // namespace

void SignatureList::Clear()
{
    names_.Clear();
    nameEnds_.Clear();
    next_.Clear();
    md5Index_.Clear();
    sha256Index_.Clear();
}

void SignatureList::Reserve(std::size_t entries, std::size_t nameBytes, std::size_t sha256Entries)
{
    names_.Reserve(nameBytes);
    nameEnds_.Reserve(entries);
    next_.Reserve(entries);
    sha256Entries = std::min(sha256Entries, entries);
    md5Index_.Reserve(entries - sha256Entries);
    sha256Index_.Reserve(sha256Entries);
}

std::string_view SignatureList::Name(std::size_t index) const
{
    const std::size_t begin = index == 0 ? 0 : nameEnds_[index - 1];
    return {names_.Data() + begin, nameEnds_[index] - begin};
}

std::size_t SignatureList::LongestProbe() const
{
    return std::max(md5Index_.LongestProbe(), sha256Index_.LongestProbe());
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
    if (signatures.size() >= kNone - nameEnds_.Size())
        throw Failure(kTooManySignatures, "too many signatures");

    enum class Kind : std::uint8_t { kNeither, kMd5, kSha256 };
    std::array<Kind, kGroup> kinds{};
    std::array<Md5Digest, kGroup> md5s{};
    std::array<Sha256Digest, kGroup> sha256s{};
    std::array<std::uint64_t, kGroup> hashes{};
    while (!signatures.empty()) {
        const auto group = signatures.first(std::min(kGroup, signatures.size()));
        signatures = signatures.subspan(group.size());
        std::size_t md5Count = 0;
        std::size_t sha256Count = 0;
        for (std::size_t i = 0; i < group.size(); ++i) {
            kinds[i] = Kind::kNeither;
            const std::string_view text = group[i].digestText;
            if (text.size() == 32) {
                if (const auto digest = DigestFromText(text)) {
                    md5s[i] = *digest;
                    kinds[i] = Kind::kMd5;
                    ++md5Count;
                }
            } else if (text.size() == 64) {
                if (const auto digest = Sha256FromText(text)) {
                    sha256s[i] = *digest;
                    kinds[i] = Kind::kSha256;
                    ++sha256Count;
                }
            }
        }
        md5Index_.MakeRoom(md5Count);
        sha256Index_.MakeRoom(sha256Count);
        for (std::size_t i = 0; i < group.size(); ++i) {
            if (kinds[i] == Kind::kMd5) {
                hashes[i] = md5Index_.HashOf(md5s[i]);
                md5Index_.Prefetch(hashes[i]);
            } else if (kinds[i] == Kind::kSha256) {
                hashes[i] = sha256Index_.HashOf(sha256s[i]);
                sha256Index_.Prefetch(hashes[i]);
            }
        }
        for (std::size_t i = 0; i < group.size(); ++i) {
            const auto entry = static_cast<std::uint32_t>(nameEnds_.Size());
            names_.Append(group[i].name.data(), group[i].name.size());
            nameEnds_.PushBack(names_.Size());
            next_.PushBack(entry);
            if (kinds[i] == Kind::kMd5)
                md5Index_.Insert(entry, md5s[i], hashes[i], next_);
            else if (kinds[i] == Kind::kSha256)
                sha256Index_.Insert(entry, sha256s[i], hashes[i], next_);
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
    // Storage grows with the lines read, never with the file's size beyond a
    // bounded first reservation: a sparse file is mostly NUL bytes, which
    // hold no signature line.
    bool reserved = list.Count() > 0;
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
            if (!reserved) {
                reserved = true;
                ReserveFromFirstPiece(list, text, fileSize);
            }
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
