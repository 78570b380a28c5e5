#pragma once

// The "Update Now" command: the Update Status panel's button, bar and status
// label, driven through the engine's small control interfaces.

#include "update/Download.h"
#include "update/UpdateSettings.h"
#include "window/Controls.h"

#include <QString>
#include <QUrl>

#include <utility>

namespace qirn {

struct UpdateControls {
    Switch& cmdUpdate;
    ValueControl& pgbUpd;
    Caption& lblUpd;
    // Why the last download ended as it did (lblUpd's tooltip).
    Caption* details = nullptr;
    // Why qirn-checker.ini stops updates; empty when it does not.
    Caption* settingsProblems = nullptr;
    // The same reason as details, on a line of the panel.
    Caption* reason = nullptr;
    // Whether updates are authenticated: "Updates are signed by key ..." or "not signed".
    Caption* authentication = nullptr;
};

class UpdateCommand {
public:
    // destination: the signature file the reloads read; qirn-checker.ini
    // beside it may name another URL than url and the keys to trust.
    UpdateCommand(const UpdateControls& controls, QUrl url, QString destination, FetchLimits limits = {});

    // The Click of "Update Now": reads the settings again, then downloads.
    // Events other than user input run while the body is fetched; a Click
    // meanwhile does nothing.
    void Click();
    // Reads the settings again when qirn-checker.ini changed, so that a
    // mended file enables "Update Now" (the status refresh calls it).
    void Refresh();

    bool Busy() const { return busy_; }
    // What the last finished download ended in.
    const DownloadResult& LastResult() const { return last_; }

private:
    UpdateSettings ReadSettings();
    QString SettingsFile() const;

    UpdateControls controls_;
    QUrl url_;
    QString destination_;
    FetchLimits limits_;
    bool busy_ = false;
    DownloadResult last_;
    QString settingsStamp_;  // of qirn-checker.ini when last read
    bool refused_ = false;   // by its settings; "Update Now" is off meanwhile
};

}  // namespace qirn
