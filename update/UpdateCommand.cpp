#include "update/UpdateCommand.h"

#include <QDateTime>
#include <QFileInfo>

#include <exception>

namespace qirn {

UpdateCommand::UpdateCommand(const UpdateControls& controls, QUrl url, QString destination, FetchLimits limits)
    : controls_(controls), url_(std::move(url)), destination_(std::move(destination)), limits_(limits)
{
    ReadSettings();
}

namespace {

// The first characters of the key as qirn-checker.ini gives it: enough to tell keys apart.
constexpr qsizetype kKeyShown = 12;

QString Stamp(const QFileInfo& file)
{
    return file.exists()
        ? QString::number(file.size()) + u'/' + QString::number(file.lastModified().toMSecsSinceEpoch()) + u'/' +
            QString::number(file.metadataChangeTime().toMSecsSinceEpoch())
        : QString();
}

}  // namespace

QString UpdateCommand::SettingsFile() const
{
    return SettingsFilePath(QFileInfo(destination_).absolutePath());
}

UpdateSettings UpdateCommand::ReadSettings()
{
    settingsStamp_ = Stamp(QFileInfo(SettingsFile()));
    UpdateSettings settings = ReadUpdateSettings(QFileInfo(destination_).absolutePath(), url_);
    if (controls_.settingsProblems != nullptr)
        controls_.settingsProblems->SetCaption(settings.refusal.toStdString());
    if (controls_.authentication != nullptr) {
        const QString key = settings.publicKey ? QString::fromStdString(PublicKeyText(*settings.publicKey)) : QString();
        controls_.authentication->SetCaption(settings.publicKey
                ? "Updates are signed by key " + key.left(kKeyShown).toStdString() + "..."
                : "Updates are not signed");
    }
    const bool refused = !settings.refusal.isEmpty();
    if (!busy_ && refused != refused_)
        controls_.cmdUpdate.SetEnabled(!refused);
    refused_ = refused;
    return settings;
}

void UpdateCommand::Refresh()
{
    if (!busy_ && Stamp(QFileInfo(SettingsFile())) != settingsStamp_)
        ReadSettings();
}

void UpdateCommand::Click()
{
    if (busy_)
        return;
    busy_ = true;
    controls_.cmdUpdate.SetEnabled(false);
    controls_.pgbUpd.SetValue(0);
    for (int value = 0; value <= kProgressHalf; ++value)
        controls_.pgbUpd.SetValue(value);
    controls_.lblUpd.SetCaption("Downloading update file");

    try {
        const UpdateSettings settings = ReadSettings();
        if (!settings.refusal.isEmpty()) {
            last_ = {DownloadStatus::Unauthentic, settings.refusal, {}};
        } else {
            last_ = DownloadSignatureFile(
                settings.url, destination_, UpdateTrust{settings.publicKey, settings.caCertificates}, limits_);
        }
    } catch (const std::exception& error) {
        last_ = {DownloadStatus::NetworkError, QString::fromLocal8Bit(error.what()), {}};
    }

    for (int value = kProgressHalf + 1; value <= kProgressFull; ++value)
        controls_.pgbUpd.SetValue(value);
    controls_.lblUpd.SetCaption(last_.status == DownloadStatus::Ok ? "Download succesful" : "Download failed");
    for (Caption* why : {controls_.details, controls_.reason}) {
        if (why != nullptr)
            why->SetCaption(last_.errorText.toStdString());
    }
    busy_ = false;
    controls_.cmdUpdate.SetEnabled(!refused_);
}

}  // namespace qirn
