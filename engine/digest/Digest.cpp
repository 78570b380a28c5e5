#include "engine/digest/Digest.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"

#include <array>
#include <vector>

namespace qirn {

namespace {

constexpr std::array<std::int8_t, 256> kHexValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (std::size_t i = 0; i < 10; ++i)
        values['0' + i] = static_cast<std::int8_t>(i);
    for (std::size_t i = 0; i < 6; ++i)
        values['a' + i] = static_cast<std::int8_t>(10 + i);
    return values;
}();

int HexValue(char c)
{
    return kHexValues[static_cast<unsigned char>(c)];
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> BytesFromHex(std::string_view text)
{
    if (text.size() != 2 * N)
        return std::nullopt;
    std::array<std::uint8_t, N> digest{};
    for (std::size_t i = 0; i < N; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

// Reads whole files in pieces of this size.
constexpr std::size_t kFilePiece = 65536;

}  // namespace

std::optional<Md5Digest> DigestFromText(std::string_view text)
{
    return BytesFromHex<16>(text);
}

std::optional<Sha256Digest> Sha256FromText(std::string_view text)
{
    return BytesFromHex<32>(text);
}

FileDigests Digester::Compute(std::span<const std::byte> bytes, bool withSha256)
{
    FileDigests digests;
    digests.md5 = md5_.Compute(bytes);
    if (withSha256)
        digests.sha256 = sha256_.Compute(bytes);
    return digests;
}

FileDigests Digester::ComputeFile(const std::filesystem::path& path, bool withSha256)
{
    InputFile file(path, Links::NotFollowed);
    md5_.Begin();
    if (withSha256)
        sha256_.Begin();
    std::vector<std::byte> buffer(kFilePiece);
    for (;;) {
        const std::size_t got = file.Read(buffer);
        const auto piece = std::span(buffer).first(got);
        md5_.Update(piece);
        if (withSha256)
            sha256_.Update(piece);
        if (got < buffer.size())
            break;
    }
    FileDigests digests;
    digests.md5 = md5_.Finish();
    if (withSha256)
        digests.sha256 = sha256_.Finish();
    return digests;
}

}  // namespace qirn

namespace mdlMD5 {

std::string DigestToHex(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string FileMD5(const std::filesystem::path& path)
{
    qirn::Digester digester;
    return DigestToHex(digester.ComputeFile(path, false).md5);
}

}  // namespace mdlMD5
