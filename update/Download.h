#pragma once

// The signature download: fetch, vet the body as a signature file, and put it
// in place of the destination in one step.

#include "update/Fetch.h"

#include <QByteArrayView>
#include <QString>
#include <QUrl>

namespace qirn {

// Where "Update Now" fetches the signature file from.
inline constexpr char UpdateUrl[] = "http://updates.qirn-checker.org/signatures/sa.kvd?a=1";

// The reason the loader would reject body as a signature file; empty when it would not.
QString SignatureBodyRejection(QByteArrayView body);

// Writes bytes beside path and renames the result over it, so path holds
// either its old content or exactly bytes. No events run meanwhile.
DownloadResult ReplaceFileContent(const QString& path, QByteArrayView bytes);

// Fetches url and, when the body is a signature file, makes destination hold
// exactly that body; on any failure destination is left as it was.
// The result carries no bytes.
DownloadResult DownloadSignatureFile(const QUrl& url, const QString& destination, const FetchLimits& limits = {});

}  // namespace qirn
