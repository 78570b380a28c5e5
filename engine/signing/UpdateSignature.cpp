#include "engine/signing/UpdateSignature.h"

#include "engine/digest/Digest.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace qirn {

namespace {

constexpr std::string_view kHeader = "qirn-checker signature 1";

std::string Base64Of(std::span<const std::uint8_t> bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Exactly N bytes from canonical base64, or nothing.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> BytesFromBase64(std::string_view text)
{
    constexpr std::size_t kTextLength = 4 * ((N + 2) / 3);
    if (text.size() != kTextLength)
        return std::nullopt;
    std::array<std::uint8_t, kTextLength> decoded{};
    if (EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
            static_cast<int>(text.size())) != static_cast<int>(decoded.size() / 4 * 3))
        return std::nullopt;
    std::array<std::uint8_t, N> bytes{};
    std::copy_n(decoded.begin(), N, bytes.begin());
    // The padding must be padding: a different text for the same key is refused.
    if (Base64Of(bytes) != text)
        return std::nullopt;
    return bytes;
}

std::runtime_error OpenSslFailure(const char* what)
{
    return std::runtime_error(std::string("OpenSSL: ") + what);
}

struct ParsedSignatureFile {
    UpdateManifest manifest;
    std::string_view signedPart;
    std::string_view signatureText;
};

std::variant<ParsedSignatureFile, std::string> Parse(std::string_view text)
{
    if (text.size() > kMaxSignatureFileBytes)
        return std::string("the signature file is too large");
    std::vector<std::string_view> lines;
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            return std::string("the signature file does not end with a line end");
        lines.push_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    if (lines.size() != 4 || lines[0] != kHeader || !lines[1].starts_with("sha256 ") ||
        !lines[2].starts_with("serial ") || !lines[3].starts_with("ed25519 "))
        return std::string("the signature file is not in the expected form");
    ParsedSignatureFile parsed;
    const auto sha256 = Sha256FromText(lines[1].substr(7));
    if (!sha256)
        return std::string("the signature file's SHA-256 is malformed");
    parsed.manifest.sha256 = *sha256;
    const std::string_view serial = lines[2].substr(7);
    const auto [end, error] = std::from_chars(serial.data(), serial.data() + serial.size(), parsed.manifest.serial);
    if (error != std::errc() || end != serial.data() + serial.size() || serial.starts_with('0') ||
        parsed.manifest.serial == 0)
        return std::string("the signature file's serial is not a number from 1 up");
    parsed.signedPart = text.substr(0, static_cast<std::size_t>(lines[3].data() - text.data()));
    parsed.signatureText = lines[3].substr(8);
    return parsed;
}

}  // namespace

Sha256Bytes Sha256Of(std::span<const std::byte> bytes)
{
    Sha256Bytes digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size())
        throw OpenSslFailure("SHA-256 failed");
    return digest;
}

std::optional<Ed25519PublicKey> PublicKeyFromText(std::string_view base64)
{
    return BytesFromBase64<32>(base64);
}

std::string PublicKeyText(const Ed25519PublicKey& key)
{
    return Base64Of(key);
}

void Ed25519SigningKey::Free::operator()(evp_pkey_st* key) const
{
    EVP_PKEY_free(key);
}

Ed25519SigningKey Ed25519SigningKey::Generate()
{
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (key == nullptr)
        throw OpenSslFailure("no Ed25519 key could be made");
    return Ed25519SigningKey(key);
}

Ed25519SigningKey Ed25519SigningKey::FromPem(std::string_view pem)
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> in(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    EVP_PKEY* key = in ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr) : nullptr;
    if (key == nullptr)
        throw std::runtime_error("not a PEM private key");
    Ed25519SigningKey result(key);
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519)
        throw std::runtime_error("not an Ed25519 private key");
    return result;
}

std::string Ed25519SigningKey::Pem() const
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
    if (!out || PEM_write_bio_PrivateKey(out.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw OpenSslFailure("the private key cannot be written");
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

Ed25519PublicKey Ed25519SigningKey::PublicKey() const
{
    Ed25519PublicKey key{};
    std::size_t length = key.size();
    if (EVP_PKEY_get_raw_public_key(key_.get(), key.data(), &length) != 1 || length != key.size())
        throw OpenSslFailure("the public key cannot be taken");
    return key;
}

std::array<std::uint8_t, 64> Ed25519SigningKey::Sign(std::string_view message) const
{
    std::array<std::uint8_t, 64> signature{};
    std::size_t length = signature.size();
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
            message.size()) != 1 ||
        length != signature.size())
        throw OpenSslFailure("signing failed");
    return signature;
}

std::string ManifestText(const UpdateManifest& manifest)
{
    return std::string(kHeader) + "\nsha256 " + mdlMD5::DigestToHex(manifest.sha256) + "\nserial " +
        std::to_string(manifest.serial) + "\n";
}

std::string SignatureFileText(const UpdateManifest& manifest, const Ed25519SigningKey& key)
{
    const std::string signedPart = ManifestText(manifest);
    return signedPart + "ed25519 " + Base64Of(key.Sign(signedPart)) + "\n";
}

std::variant<UpdateManifest, std::string> ReadSignatureFile(std::string_view text)
{
    auto parsed = Parse(text);
    if (auto* why = std::get_if<std::string>(&parsed))
        return std::move(*why);
    return std::get<ParsedSignatureFile>(parsed).manifest;
}

std::variant<UpdateManifest, std::string> VerifySignatureFile(std::string_view text, const Ed25519PublicKey& key)
{
    auto parsed = Parse(text);
    if (auto* why = std::get_if<std::string>(&parsed))
        return std::move(*why);
    const ParsedSignatureFile& file = std::get<ParsedSignatureFile>(parsed);
    const auto signature = BytesFromBase64<64>(file.signatureText);
    if (!signature)
        return std::string("the signature file's signature is malformed");
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!publicKey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        throw OpenSslFailure("Ed25519 verification cannot start");
    if (EVP_DigestVerify(context.get(), signature->data(), signature->size(),
            reinterpret_cast<const unsigned char*>(file.signedPart.data()), file.signedPart.size()) != 1)
        return std::string("the signature does not verify with the configured public key");
    return file.manifest;
}

std::optional<std::string> ManifestMismatch(
    const UpdateManifest& manifest, std::string_view body, std::uint64_t installedSerial)
{
    if (Sha256Of(body) != manifest.sha256)
        return "the file's SHA-256 is not the one the signature names";
    if (manifest.serial <= installedSerial) {
        return "the signed serial " + std::to_string(manifest.serial) + " is not above the installed serial " +
            std::to_string(installedSerial) + " (an old file replayed)";
    }
    return std::nullopt;
}

}  // namespace qirn
