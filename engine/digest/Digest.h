#pragma once

// MD5 and SHA-256 digests of files, computed with OpenSSL (CNG on Windows).

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
struct DigestContext;

using Md5Digest = std::array<std::uint8_t, 16>;
using Sha256Digest = std::array<std::uint8_t, 32>;

enum class DigestAlgorithm { kMd5, kSha256 };

// The digest whose text this is, if it is 32 (MD5) or 64 (SHA-256) lowercase
// hexadecimal digits.
std::optional<Md5Digest> DigestFromText(std::string_view text);
std::optional<Sha256Digest> Sha256FromText(std::string_view text);

// One reusable context of one digest algorithm.
template <DigestAlgorithm A, std::size_t N>
class HashFunction {
public:
    using Digest = std::array<std::uint8_t, N>;

    HashFunction();
    HashFunction(const HashFunction&) = delete;
    HashFunction& operator=(const HashFunction&) = delete;
    ~HashFunction();

    void Begin();
    void Update(std::span<const std::byte> bytes);
    Digest Finish();
    Digest Compute(std::span<const std::byte> bytes);

private:
    DigestContext* context_;
};

using Md5 = HashFunction<DigestAlgorithm::kMd5, 16>;
using Sha256 = HashFunction<DigestAlgorithm::kSha256, 32>;

// What one read of a file yields: always its MD5, its SHA-256 when asked for.
struct FileDigests {
    Md5Digest md5{};
    std::optional<Sha256Digest> sha256;
};

// Both digests over the same bytes, with reusable contexts: one per thread.
class Digester {
public:
    FileDigests Compute(std::span<const std::byte> bytes, bool withSha256);
    Sha256Digest Sha256Of(std::span<const std::byte> bytes) { return sha256_.Compute(bytes); }

    // The same for a regular file's whole content, read once. Links are not
    // followed. Throws qirn::Failure when the file cannot be opened or read.
    FileDigests ComputeFile(const std::filesystem::path& path, bool withSha256);

private:
    Md5 md5_;
    Sha256 sha256_;
};

}  // namespace qirn

namespace mdlMD5 {

// Two lowercase hexadecimal digits per byte, high nibble first.
std::string DigestToHex(std::span<const std::uint8_t> bytes);

// Digest text of a regular file's whole content. Links are not followed.
// Throws qirn::Failure when the file cannot be opened or read.
std::string FileMD5(const std::filesystem::path& path);

}  // namespace mdlMD5
