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

// The signature file the installed list came with, and its serial; empty
// and 0 when there is none.
struct InstalledRecord {
    QByteArray text;
    std::uint64_t serial = 0;
};

std::variant<InstalledRecord, std::string> ReadInstalledRecord(const QString& destination)
{
    QFile record(InstalledSignaturePath(destination));
    if (!record.exists())
        return InstalledRecord{};
    if (!record.open(QIODevice::ReadOnly))
        return "the installed signature record cannot be read: " + record.errorString().toStdString();
    QByteArray text = record.read(kMaxSignatureFileBytes + 1);
    auto manifest = ReadSignatureFile(View(text));
    if (const auto* why = std::get_if<std::string>(&manifest))
        return "the installed signature record " + record.fileName().toStdString() + " is damaged: " + *why;
    return InstalledRecord{std::move(text), std::get<UpdateManifest>(manifest).serial};
}

// The signature file of body when it verifies and fits, or why not;
// installedAgain tells whether it is the very record of the installed list.
DownloadResult CheckSignature(QNetworkAccessManager& manager, const QUrl& url, const QString& destination,
    const UpdateTrust& trust, const QByteArray& body, const FetchLimits& limits, bool& installedAgain)
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
    const auto installed = ReadInstalledRecord(destination);
    if (const auto* why = std::get_if<std::string>(&installed))
        return Unauthentic(*why);
    const auto& record = std::get<InstalledRecord>(installed);
    const UpdateManifest& manifest = std::get<UpdateManifest>(verified);
    // The installed list offered again under its own record is no replay:
    // only its serial need not be above itself.
    installedAgain = !sig.bytes.isEmpty() && sig.bytes == record.text;
    const std::uint64_t above = installedAgain ? manifest.serial - 1 : record.serial;
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
    bool installedAgain = false;
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
            signature = CheckSignature(manager, url, destination, trust, fetched.bytes, limits, installedAgain);
            if (signature.status != DownloadStatus::Ok)
                return signature;
        }
    }
    if ((!trust.publicKey || installedAgain) && ContentOf(destination, fetched.bytes.size()) == fetched.bytes) {
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
