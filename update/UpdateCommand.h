#pragma once

// The "Update Now" command: the Update Status panel's button, bar and status
// label, driven through the engine's small control interfaces.

#include "engine/ScanControl.h"
#include "update/Download.h"

#include <QString>
#include <QUrl>

#include <utility>

namespace qirn {

struct UpdateControls {
    Switch& cmdUpdate;
    ValueControl& pgbUpd;
    Caption& lblUpd;
};

class UpdateCommand {
public:
    static constexpr int kProgressHalf = 500;
    static constexpr int kProgressFull = 1000;

    // destination: the signature file the reloads read.
    UpdateCommand(const UpdateControls& controls, QUrl url, QString destination, FetchLimits limits = {})
        : controls_(controls), url_(std::move(url)), destination_(std::move(destination)), limits_(limits)
    {
    }

    // The Click of "Update Now". Events other than user input run while the
    // body is fetched; a Click meanwhile does nothing.
    void Click();

    bool Busy() const { return busy_; }
    // What the last finished download ended in.
    const DownloadResult& LastResult() const { return last_; }

private:
    UpdateControls controls_;
    QUrl url_;
    QString destination_;
    FetchLimits limits_;
    bool busy_ = false;
    DownloadResult last_;
};

}  // namespace qirn
