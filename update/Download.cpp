#include "update/Download.h"

#include "engine/platform/SaveFile.h"
#include "engine/signing/UpdateBodyCheck.h"

#include <QFile>
#include <QNetworkAccessManager>

#include <filesystem>
#include <string_view>
#include <variant>

namespace qirn {

namespace {

std::string_view View(QByteArrayView bytes)
{
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

DownloadResult Unauthentic(const std::string& why)
{
    return {DownloadStatus::Unauthentic, QString::fromStdString(why), {}};
}

constexpr auto kRecordLimit = static_cast<qint64>(kMaxSignatureFileBytes);

// The whole of a file of at most limit bytes; empty when it is missing,
// unreadable or longer.
QByteArray ContentOf(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(limit + 1);
    return bytes.size() > limit ? QByteArray() : bytes;
}

// The serial of the installed manifest: 0 when there is none.
std::variant<std::uint64_t, std::string> InstalledSerial(const QString& destination)
{
    QFile record(InstalledSignaturePath(destination));
    if (!record.exists())
        return std::uint64_t{0};
    if (!record.open(QIODevice::ReadOnly))
        return "the installed signature record cannot be read: " + record.errorString().toStdString();
    const QByteArray text = record.read(kMaxSignatureFileBytes + 1);
    auto manifest = ReadSignatureFile(View(text));
    if (const auto* why = std::get_if<std::string>(&manifest))
        return "the installed signature record " + record.fileName().toStdString() + " is damaged: " + *why;
    return std::get<UpdateManifest>(manifest).serial;
}

// The signature file of body when it verifies and fits, or why not.
DownloadResult CheckSignature(QNetworkAccessManager& manager, const QUrl& url, const QString& destination,
    const UpdateTrust& trust, const QByteArray& body, const FetchLimits& limits)
{
    FetchLimits sigLimits = limits;
    sigLimits.maxBytes = kMaxSignatureFileBytes;
    DownloadResult sig = Fetch(manager, SignatureUrl(url), sigLimits, trust.caCertificates);
    if (sig.status != DownloadStatus::Ok) {
        sig.status = DownloadStatus::Unauthentic;
        sig.errorText = QStringLiteral("no signature file at %1: %2").arg(SignatureUrl(url).toString(), sig.errorText);
        return sig;
    }
    auto verified = VerifySignatureFile(View(sig.bytes), *trust.publicKey);
    if (const auto* why = std::get_if<std::string>(&verified))
        return Unauthentic(*why);
    const auto installed = InstalledSerial(destination);
    if (const auto* why = std::get_if<std::string>(&installed))
        return Unauthentic(*why);
    const UpdateManifest& manifest = std::get<UpdateManifest>(verified);
    // The installed list offered again under its own record is no replay:
    // only its serial need not be above itself.
    const bool installedAgain =
        !sig.bytes.isEmpty() && sig.bytes == ContentOf(InstalledSignaturePath(destination), kRecordLimit);
    const std::uint64_t above = installedAgain ? manifest.serial - 1 : std::get<std::uint64_t>(installed);
    if (auto mismatch = ManifestMismatch(manifest, View(body), above))
        return Unauthentic(*mismatch);
    return sig;
}

}  // namespace

QString UpdateRejection(QByteArrayView body)
{
    const auto why = UpdateBodyRejection(View(body));
    return why ? QString::fromStdString(*why) : QString();
}

QUrl SignatureUrl(const QUrl& url)
{
    QUrl signature = url;
    signature.setPath(url.path() + QStringLiteral(".sig"));
    return signature;
}

QString InstalledSignaturePath(const QString& destination)
{
    return destination + QStringLiteral(".sig");
}

DownloadResult ReplaceFileContent(const QString& path, QByteArrayView bytes)
{
    const SaveResult saved = SaveFileContent(std::filesystem::path(QFile::encodeName(path).toStdString()),
        std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
    if (!saved.Ok())
        return {DownloadStatus::WriteFailed, QString::fromLocal8Bit(saved.Describe()), {}};
    return {};
}

DownloadResult DownloadSignatureFile(
    const QUrl& url, const QString& destination, const UpdateTrust& trust, const FetchLimits& limits)
{
    DownloadResult fetched;
    DownloadResult signature;
    {
        // A manager of its own: no connection or cache outlives one download.
        QNetworkAccessManager manager;
        fetched = Fetch(manager, url, limits, trust.caCertificates);
        if (fetched.status != DownloadStatus::Ok)
            return fetched;
        const QString rejection = UpdateRejection(fetched.bytes);
        if (!rejection.isEmpty())
            return {DownloadStatus::Rejected, rejection, {}};
        if (trust.publicKey) {
            signature = CheckSignature(manager, url, destination, trust, fetched.bytes, limits);
            if (signature.status != DownloadStatus::Ok)
                return signature;
        }
    }
    const bool recorded =
        !trust.publicKey || ContentOf(InstalledSignaturePath(destination), kRecordLimit) == signature.bytes;
    if (recorded && ContentOf(destination, fetched.bytes.size()) == fetched.bytes) {
        return {
            DownloadStatus::Ok, QStringLiteral("the list on the server is the one installed; nothing was changed"), {}};
    }
    DownloadResult installed = ReplaceFileContent(destination, fetched.bytes);
    if (installed.status != DownloadStatus::Ok || !trust.publicKey)
        return installed;
    // Recorded after the file, so a failure here never blocks this same update later.
    installed = ReplaceFileContent(InstalledSignaturePath(destination), signature.bytes);
    if (installed.status != DownloadStatus::Ok) {
        installed.errorText =
            QStringLiteral("the new signature file is in place, but its serial could not be recorded: %1")
                .arg(installed.errorText);
    }
    return installed;
}

DownloadResult DownloadSignatureFile(const QUrl& url, const QString& destination, const FetchLimits& limits)
{
    return DownloadSignatureFile(url, destination, UpdateTrust{}, limits);
}

}  // namespace qirn
