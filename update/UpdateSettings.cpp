#include "update/UpdateSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>

namespace qirn {

namespace {

const QString kUrlKey = QStringLiteral("Update/Url");
const QString kPublicKeyKey = QStringLiteral("Update/PublicKey");
const QString kCaFileKey = QStringLiteral("Update/CaFile");
const QString kMaxSizeKey = QStringLiteral("Scan/MaxSize");

// The settings file in applicationFolder; null when there is none, and
// with problem set when it cannot be read.
std::unique_ptr<QSettings> OpenSettings(const QString& applicationFolder, QString& problem)
{
    const QString file = SettingsFilePath(applicationFolder);
    if (!QFileInfo::exists(file))
        return nullptr;
    auto ini = std::make_unique<QSettings>(file, QSettings::IniFormat);
    if (ini->status() != QSettings::NoError)
        problem = QStringLiteral("%1 cannot be read").arg(QString::fromLatin1(kSettingsFileName));
    return ini;
}

// The MaxSize setting of ini, or why it cannot be used.
ScanSizeSetting ReadMaxSize(const QSettings& ini)
{
    ScanSizeSetting setting;
    if (!ini.contains(kMaxSizeKey))
        return setting;
    bool number = false;
    const qlonglong bytes = ini.value(kMaxSizeKey).toString().trimmed().toLongLong(&number);
    if (!number || bytes < 0 || bytes > mdlFindFiles::kLargestSizeLimit) {
        setting.problem = QStringLiteral("%1 is not a number of bytes from 0 to %2")
                              .arg(kMaxSizeKey)
                              .arg(mdlFindFiles::kLargestSizeLimit);
        return setting;
    }
    setting.bytes = static_cast<std::int32_t>(bytes);
    return setting;
}

void ReadUrl(const QSettings& ini, UpdateSettings& settings)
{
    if (!ini.contains(kUrlKey))
        return;
    const QUrl url(ini.value(kUrlKey).toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        settings.problems << QStringLiteral("%1 is not an http or https URL").arg(kUrlKey);
        return;
    }
    settings.url = url;
}

void ReadPublicKey(const QSettings& ini, UpdateSettings& settings)
{
    if (!ini.contains(kPublicKeyKey))
        return;
    const QByteArray text = ini.value(kPublicKeyKey).toString().trimmed().toLatin1();
    settings.publicKey = PublicKeyFromText(std::string_view(text.data(), static_cast<std::size_t>(text.size())));
    if (!settings.publicKey)
        settings.problems << QStringLiteral("%1 is not a base64 Ed25519 public key").arg(kPublicKeyKey);
}

void ReadCaFile(const QSettings& ini, const QString& applicationFolder, UpdateSettings& settings)
{
    if (!ini.contains(kCaFileKey))
        return;
    const QString path = QDir(applicationFolder).filePath(ini.value(kCaFileKey).toString());
    if (QFileInfo(path).isFile())
        settings.caCertificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (settings.caCertificates.isEmpty()) {
        settings.problems << QStringLiteral("%1 (%2) holds no readable PEM certificate")
                                 .arg(kCaFileKey, QDir::toNativeSeparators(path));
    }
}

}  // namespace

QString SettingsFilePath(const QString& applicationFolder)
{
    return QDir(applicationFolder).filePath(QString::fromLatin1(kSettingsFileName));
}

UpdateSettings ReadUpdateSettings(const QString& applicationFolder, const QUrl& defaultUrl)
{
    UpdateSettings settings;
    settings.url = defaultUrl;
    QString unreadable;
    const std::unique_ptr<QSettings> file = OpenSettings(applicationFolder, unreadable);
    if (!file)
        return settings;
    const QSettings& ini = *file;
    if (!unreadable.isEmpty()) {
        settings.problems << unreadable;
    } else {
        // A misspelt key would otherwise turn a check off without a word. Keys
        // are matched as written: "URL" is not "Url".
        for (const QString& key : ini.allKeys()) {
            if (key != kUrlKey && key != kPublicKeyKey && key != kCaFileKey && key != kMaxSizeKey) {
                settings.problems << QStringLiteral("%1 is not a known setting (the settings are %2, %3, %4 and %5)")
                                         .arg(key, kUrlKey, kPublicKeyKey, kCaFileKey, kMaxSizeKey);
            }
        }
        const ScanSizeSetting maxSize = ReadMaxSize(ini);
        if (!maxSize.problem.isEmpty())
            settings.problems << maxSize.problem;
        ReadUrl(ini, settings);
        ReadPublicKey(ini, settings);
        ReadCaFile(ini, applicationFolder, settings);
    }
    // Falling back to a default address or the system's roots could turn
    // authentication off: a mistake stops updates until it is mended.
    if (!settings.problems.isEmpty()) {
        settings.refusal = settings.problems.join(QStringLiteral("; ")) +
            QStringLiteral(" in %1: no update is made until it is mended").arg(QString::fromLatin1(kSettingsFileName));
    }
    return settings;
}

ScanSizeSetting ReadScanSize(const QString& applicationFolder)
{
    ScanSizeSetting setting;
    const std::unique_ptr<QSettings> ini = OpenSettings(applicationFolder, setting.problem);
    if (!ini || !setting.problem.isEmpty())
        return setting;
    setting = ReadMaxSize(*ini);
    if (!setting.problem.isEmpty())
        setting.problem +=
            QStringLiteral(" in %1: no scan is made until it is mended").arg(QString::fromLatin1(kSettingsFileName));
    return setting;
}

}  // namespace qirn
