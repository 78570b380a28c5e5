#pragma once

// MD5 digests of files, computed with OpenSSL (CNG on Windows).

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

// The digest library's context.
struct Md5Context;

using Md5Digest = std::array<std::uint8_t, 16>;

// The digest whose text this is, if it is 32 lowercase hexadecimal digits.
std::optional<Md5Digest> DigestFromText(std::string_view text);

// One reusable MD5 context.
class Md5 {
public:
    Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    ~Md5();

    void Begin();
    void Update(std::span<const std::byte> bytes);
    Md5Digest Finish();
    Md5Digest Compute(std::span<const std::byte> bytes);

private:
    Md5Context* context_;
};

}  // namespace qirn

namespace mdlMD5 {

// Two lowercase hexadecimal digits per byte, high nibble first.
std::string DigestToHex(std::span<const std::uint8_t> bytes);

// Digest text of a regular file's whole content. Links are not followed.
// Throws qirn::Failure when the file cannot be opened or read.
std::string FileMD5(const std::filesystem::path& path);

}  // namespace mdlMD5
