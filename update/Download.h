#pragma once

// The signature download: fetch, vet the body as a signature file, check its
// signed manifest when a public key is configured, and put it in place of the
// destination in one step.

#include "engine/signing/UpdateSignature.h"
#include "update/Fetch.h"

#include <QByteArrayView>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <optional>

namespace qirn {

// Where "Update Now" fetches the signature file from.
inline constexpr char UpdateUrl[] = "http://updates.qirn-checker.org/signatures/sa.kvd?a=1";

struct UpdateTrust {
    // With a key, <url>.sig must verify, name the body's SHA-256 and a serial
    // above the installed one.
    std::optional<Ed25519PublicKey> publicKey;
    // The only roots trusted for https when not empty.
    QList<QSslCertificate> caCertificates;
};

// The reason body may not be installed as the signature file; empty when it
// may. Stricter than the loader: every non-blank line is a digest=name line.
QString UpdateRejection(QByteArrayView body);

// The signed manifest of a file: ".sig" appended to the path, query kept.
QUrl SignatureUrl(const QUrl& url);
// Beside the installed file: the manifest it was installed with, whose serial
// the next signed update must exceed.
QString InstalledSignaturePath(const QString& destination);

// Writes bytes beside path and renames the result over it, so path holds
// either its old content or exactly bytes. No events run meanwhile.
DownloadResult ReplaceFileContent(const QString& path, QByteArrayView bytes);

// Fetches url and, when the body is a signature file (and, with a key, its
// signature holds), makes destination hold exactly that body; on any failure
// destination is left as it was. The result carries no bytes.
DownloadResult DownloadSignatureFile(
    const QUrl& url, const QString& destination, const UpdateTrust& trust, const FetchLimits& limits = {});
DownloadResult DownloadSignatureFile(const QUrl& url, const QString& destination, const FetchLimits& limits = {});

}  // namespace qirn
