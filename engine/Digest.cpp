#include "engine/Digest.h"

#include "engine/Failure.h"
#include "engine/Platform.h"

#include <array>

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
    qirn::InputFile file(path, qirn::Links::NotFollowed);
    qirn::Md5 md5;
    md5.Begin();
    std::array<std::byte, 65536> buffer{};
    for (;;) {
        const std::size_t got = file.Read(buffer);
        md5.Update(std::span(buffer).first(got));
        if (got < buffer.size())
            break;
    }
    const qirn::Md5Digest digest = md5.Finish();
    return DigestToHex(digest);
}

}  // namespace mdlMD5
