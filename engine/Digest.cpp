#include "engine/Digest.h"

#include "engine/Failure.h"
#include "engine/posix/PosixIo.h"

#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace qirn {

namespace {

// Fetched once: an implicit fetch on every initialisation is slow in OpenSSL 3.
const EVP_MD* Md5Algorithm()
{
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "MD5", nullptr);
    if (algorithm == nullptr)
        throw std::runtime_error("OpenSSL offers no MD5");
    return algorithm;
}

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

Md5::Md5() : context_(EVP_MD_CTX_new())
{
    if (context_ == nullptr)
        throw std::bad_alloc();
}

Md5::~Md5()
{
    EVP_MD_CTX_free(context_);
}

void Md5::Begin()
{
    if (EVP_DigestInit_ex2(context_, Md5Algorithm(), nullptr) != 1)
        throw std::runtime_error("MD5 initialisation failed");
}

void Md5::Update(std::span<const std::byte> bytes)
{
    if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1)
        throw std::runtime_error("MD5 update failed");
}

Md5Digest Md5::Finish()
{
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("MD5 completion failed");
    return digest;
}

Md5Digest Md5::Compute(std::span<const std::byte> bytes)
{
    Begin();
    Update(bytes);
    return Finish();
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
    const qirn::UniqueFd file = qirn::OpenRegularFile(AT_FDCWD, path.c_str(), qirn::Links::NotFollowed);
    qirn::Md5 md5;
    md5.Begin();
    std::array<std::byte, 65536> buffer{};
    for (;;) {
        const std::size_t got = qirn::ReadFully(file.get(), buffer, path.native());
        md5.Update(std::span(buffer).first(got));
        if (got < buffer.size())
            break;
    }
    const qirn::Md5Digest digest = md5.Finish();
    return DigestToHex(digest);
}

}  // namespace mdlMD5
