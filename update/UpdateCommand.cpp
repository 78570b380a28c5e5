#include "update/UpdateCommand.h"

#include <exception>

namespace qirn {

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
        last_ = DownloadSignatureFile(url_, destination_, limits_);
    } catch (const std::exception& error) {
        last_ = {DownloadStatus::NetworkError, QString::fromLocal8Bit(error.what()), {}};
    }

    for (int value = kProgressHalf + 1; value <= kProgressFull; ++value)
        controls_.pgbUpd.SetValue(value);
    controls_.lblUpd.SetCaption(last_.status == DownloadStatus::Ok ? "Download succesful" : "Download failed");
    controls_.cmdUpdate.SetEnabled(true);
    busy_ = false;
}

}  // namespace qirn
