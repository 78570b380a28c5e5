#pragma once

// What the main window takes from outside. RealEnvironment() fills every
// member with the real thing; tests start from it and replace what they need.

#include "ui/InfectionsPanel.h"

#include <QString>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

class FolderDialog;
class MessageBoxes;

namespace qirn {
class Clock;
}

struct FormEnvironment {
    QString applicationFolder;          // holds sa.kvd and Results.txt
    MessageBoxes* messages = nullptr;   // modal message boxes
    qirn::Clock* clock = nullptr;       // the local clock
    std::function<void()> endProgram;   // leaves the event loop
    QString scanFolder;                 // the user's home folder
    FolderDialog* folders = nullptr;    // the folder chooser's dialog
    QUrl updateUrl;                     // qirn::UpdateUrl
    InfectionsPanel::Remover remover;   // qirn::QuarantineDetectedFile into quarantine
    std::filesystem::path quarantine;   // Delete keeps files here; pruned at start-up
    std::filesystem::path digestCache;  // digests kept between scans; empty: none

    struct RealParts;
    std::shared_ptr<RealParts> realParts;  // owns the real boxes, clock and dialog
};

// The program's own environment: the application folder (qirn::ApplicationFolder), modal boxes, the
// local clock, the platform's folder dialog, the home folder, the update
// address, the user's quarantine folder with Delete keeping files there, and
// the user's digest cache.
FormEnvironment RealEnvironment();
