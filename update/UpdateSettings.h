#pragma once

// qirn-checker.ini beside sa.kvd: where updates come from and how they are
// trusted. Every setting is optional; an unknown or malformed one stops
// updates, never start-up, until it is mended.
//
//   [Update]
//   Url=https://example.org/signatures/sa.kvd
//   PublicKey=<base64 of an Ed25519 public key>
//   CaFile=ca.pem
//   [Scan]
//   MaxSize=83000

#include "engine/scan/FindFiles.h"
#include "engine/signing/UpdateSignature.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace qirn {

inline constexpr char kSettingsFileName[] = "qirn-checker.ini";

// Where the settings file of applicationFolder lies.
QString SettingsFilePath(const QString& applicationFolder);

struct UpdateSettings {
    QUrl url;
    // With a key, only a body whose signed manifest verifies is installed.
    std::optional<Ed25519PublicKey> publicKey;
    // Roots trusted for https in place of the system's; empty: the system's.
    QList<QSslCertificate> caCertificates;
    // Set when any setting is unknown or cannot be used: no update is made
    // until it is mended, rather than falling back to another address or to
    // unsigned updates.
    QString refusal;
    // One text per unknown or malformed setting, for the Update panel.
    QStringList problems;
};

// Files larger than bytes are not read by the window's scans.
struct ScanSizeSetting {
    std::int32_t bytes = mdlFindFiles::kSizeLimit;
    QString problem;  // why the setting cannot be used; no scan is made meanwhile
};
ScanSizeSetting ReadScanSize(const QString& applicationFolder);

// The settings of the INI file in applicationFolder; defaultUrl when it names none.
UpdateSettings ReadUpdateSettings(const QString& applicationFolder, const QUrl& defaultUrl);

}  // namespace qirn
