#include "update/UpdateCommand.h"

#include <QFileInfo>

#include <exception>

namespace qirn {

UpdateCommand::UpdateCommand(const UpdateControls& controls, QUrl url, QString destination, FetchLimits limits)
    : controls_(controls), url_(std::move(url)), destination_(std::move(destination)), limits_(limits)
{
    ReadSettings();
}

UpdateSettings UpdateCommand::ReadSettings()
{
    UpdateSettings settings = ReadUpdateSettings(QFileInfo(destination_).absolutePath(), url_);
    if (controls_.settingsProblems != nullptr)
        controls_.settingsProblems->SetCaption(settings.problems.join(u'\n').toStdString());
    return settings;
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
    if (controls_.details != nullptr)
        controls_.details->SetCaption(last_.errorText.toStdString());
    controls_.cmdUpdate.SetEnabled(true);
    busy_ = false;
}

}  // namespace qirn
