#pragma once

// Signed update manifests: an Ed25519 signature over a short text naming a
// signature file's SHA-256 and a serial number that may only grow.
//
//   qirn-checker signature 1
//   sha256 <64 lowercase hex digits>
//   serial <decimal, at least 1>
//   ed25519 <base64 of the 64-byte signature over the three lines above>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

struct evp_pkey_st;

namespace qirn {

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Sha256Bytes = std::array<std::uint8_t, 32>;

// A .sig file larger than this is no signature file.
inline constexpr std::size_t kMaxSignatureFileBytes = 4096;

struct UpdateManifest {
    Sha256Bytes sha256{};
    std::uint64_t serial = 0;
};

Sha256Bytes Sha256Of(std::span<const std::byte> bytes);
inline Sha256Bytes Sha256Of(std::string_view text)
{
    return Sha256Of(std::as_bytes(std::span(text.data(), text.size())));
}

// The key as base64 of its 32 bytes (how settings and .pub files hold it).
std::optional<Ed25519PublicKey> PublicKeyFromText(std::string_view base64);
std::string PublicKeyText(const Ed25519PublicKey& key);

// A private key for signing, kept in PKCS #8 PEM form on disk.
class Ed25519SigningKey {
public:
    static Ed25519SigningKey Generate();
    // Throws std::runtime_error when pem holds no Ed25519 private key.
    static Ed25519SigningKey FromPem(std::string_view pem);

    std::string Pem() const;
    Ed25519PublicKey PublicKey() const;
    std::array<std::uint8_t, 64> Sign(std::string_view message) const;

private:
    struct Free {
        void operator()(evp_pkey_st* key) const;
    };
    explicit Ed25519SigningKey(evp_pkey_st* key) : key_(key) { }
    std::unique_ptr<evp_pkey_st, Free> key_;
};

// The three signed lines of manifest, each ending in LF.
std::string ManifestText(const UpdateManifest& manifest);
// The whole .sig file for manifest, signed with key.
std::string SignatureFileText(const UpdateManifest& manifest, const Ed25519SigningKey& key);

// The manifest of a .sig file whose signature verifies with key, or the
// reason it does not.
std::variant<UpdateManifest, std::string> VerifySignatureFile(std::string_view text, const Ed25519PublicKey& key);
// The manifest of a .sig file read without checking its signature (the
// record of what was installed), or the reason it cannot be read.
std::variant<UpdateManifest, std::string> ReadSignatureFile(std::string_view text);

// Why body does not fit manifest (its SHA-256 differs, or its serial is not
// above installedSerial), or nothing when it does.
std::optional<std::string> ManifestMismatch(
    const UpdateManifest& manifest, std::string_view body, std::uint64_t installedSerial);

}  // namespace qirn
