// qirn-sigtool keygen, sign and verify: Ed25519 through OpenSSL.

#include "cli/SigToolSigning.h"

#include "cli/SigTool.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/platform/SaveFile.h"
#include "engine/signing/UpdateBodyCheck.h"
#include "engine/signing/UpdateSignature.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <variant>
#include <vector>

namespace qirn {

namespace {

std::optional<std::string> ReadFile(const std::string& path, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = path + ": " + ErrorText(errno);
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A private key never replaces a file; the public key and the signature do.
bool WriteFile(const std::string& path, const std::string& content, bool privateKey, std::string& why)
{
    const SaveResult saved =
        privateKey ? SaveNewPrivateFile(PathFromText(path), content) : SaveFileContent(PathFromText(path), content);
    if (!saved.Ok())
        why = path + ": " + saved.reason;
    return saved.Ok();
}

struct Options {
    std::optional<std::string> key, serial, output, sig, out;
    std::vector<std::string> files;
};

std::optional<Options> Parse(std::span<const std::string> args, std::FILE* err)
{
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::optional<std::string>* target = args[i] == "--key" ? &options.key
            : args[i] == "--serial"                             ? &options.serial
            : args[i] == "--output" || args[i] == "-o"          ? &options.output
            : args[i] == "--sig"                                ? &options.sig
            : args[i] == "--out"                                ? &options.out
                                                                : nullptr;
        if (target != nullptr && i + 1 < args.size()) {
            *target = args[++i];
        } else if (args[i].starts_with('-')) {
            UsageError(err, "unknown option or missing value: " + args[i]);
            return std::nullopt;
        } else {
            options.files.push_back(args[i]);
        }
    }
    return options;
}

int Fail(std::FILE* err, const std::string& why, int status = 2)
{
    std::fprintf(err, "qirn-sigtool: %s\n", why.c_str());
    return status;
}

int Keygen(const Options& options, std::FILE* out, std::FILE* err)
{
    const std::string name = options.out.value_or("qirn-signing");
    const Ed25519SigningKey key = Ed25519SigningKey::Generate();
    const std::string publicText = PublicKeyText(key.PublicKey());
    std::string why;
    if (!WriteFile(name + ".key", key.Pem(), true, why) || !WriteFile(name + ".pub", publicText + "\n", false, why))
        return Fail(err, why);
    std::fprintf(
        out, "Private key: %s.key (keep it off the web server)\nPublic key: %s.pub\n", name.c_str(), name.c_str());
    std::fprintf(out, "Add to qirn-checker.ini beside sa.kvd:\n[Update]\nPublicKey=%s\n", publicText.c_str());
    return 0;
}

int Sign(const Options& options, std::FILE* out, std::FILE* err)
{
    if (!options.key || !options.serial || options.files.size() != 1)
        return UsageError(err, "sign needs --key FILE, --serial N and one signature file");
    std::string why;
    const auto pem = ReadFile(*options.key, why);
    const auto body = pem ? ReadFile(options.files[0], why) : std::nullopt;
    if (!body)
        return Fail(err, why);
    if (const auto rejection = UpdateBodyRejection(*body))
        return Fail(err, options.files[0] + " would be refused by the window: " + *rejection);
    UpdateManifest manifest{Sha256Of(*body), 0};
    const auto serialText = *options.serial;
    if (serialText.empty() || serialText.starts_with('0') ||
        serialText.find_first_not_of("0123456789") != std::string::npos || serialText.size() > 18)
        return UsageError(err, "--serial needs a whole number from 1 up");
    manifest.serial = std::stoull(serialText);
    const std::string sigPath = options.output.value_or(options.files[0] + ".sig");
    // A serial that does not grow would be refused by every installed copy.
    if (const auto previous = ReadFile(sigPath, why)) {
        const auto last = ReadSignatureFile(*previous);
        if (const auto* read = std::get_if<UpdateManifest>(&last); read != nullptr && read->serial >= manifest.serial)
            return Fail(
                err, sigPath + " already holds serial " + std::to_string(read->serial) + "; the serial must grow");
    }
    try {
        const Ed25519SigningKey key = Ed25519SigningKey::FromPem(*pem);
        if (!WriteFile(sigPath, SignatureFileText(manifest, key), false, why))
            return Fail(err, why);
    } catch (const std::runtime_error& error) {
        return Fail(err, *options.key + ": " + error.what());
    }
    std::fprintf(out, "%s: serial %llu signed\n", sigPath.c_str(), static_cast<unsigned long long>(manifest.serial));
    return 0;
}

int Verify(const Options& options, std::FILE* out, std::FILE* err)
{
    if (!options.key || options.files.size() != 1)
        return UsageError(err, "verify needs --key FILE and one signature file");
    std::string why;
    const std::string sigPath = options.sig.value_or(options.files[0] + ".sig");
    const auto keyText = ReadFile(*options.key, why);
    const auto body = keyText ? ReadFile(options.files[0], why) : std::nullopt;
    const auto sig = body ? ReadFile(sigPath, why) : std::nullopt;
    if (!sig)
        return Fail(err, why);
    std::string_view keyLine = *keyText;
    while (keyLine.ends_with('\n') || keyLine.ends_with('\r'))
        keyLine.remove_suffix(1);
    const auto key = PublicKeyFromText(keyLine);
    if (!key)
        return Fail(err, *options.key + " holds no base64 Ed25519 public key");
    auto verified = VerifySignatureFile(*sig, *key);
    if (const auto* failure = std::get_if<std::string>(&verified))
        return Fail(err, sigPath + ": " + *failure, 1);
    const UpdateManifest& manifest = std::get<UpdateManifest>(verified);
    if (auto mismatch = ManifestMismatch(manifest, *body, 0))
        return Fail(err, options.files[0] + ": " + *mismatch, 1);
    if (const auto rejection = UpdateBodyRejection(*body))
        return Fail(err, options.files[0] + " would be refused by the window: " + *rejection, 1);
    std::fprintf(out, "%s: good signature, serial %llu\n", options.files[0].c_str(),
        static_cast<unsigned long long>(manifest.serial));
    return 0;
}

}  // namespace

int RunSigning(const std::string& command, std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    const auto options = Parse(args, err);
    if (!options)
        return 2;
    if (command == "keygen")
        return Keygen(*options, out, err);
    if (command == "sign")
        return Sign(*options, out, err);
    return Verify(*options, out, err);
}

}  // namespace qirn
