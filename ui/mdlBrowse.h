#pragma once

// The folder chooser behind a seam, so that tests never wait on a dialog.

#include <QString>

class FolderDialog {
public:
    virtual ~FolderDialog() = default;
    // The chosen folder, or an empty text when the user cancels. The dialog
    // opens at startFolder.
    virtual QString ChooseFolder(const QString& title, const QString& startFolder) = 0;
};

// The platform's folder dialog: folders only, modal, no owner window.
class SystemFolderDialog final : public FolderDialog {
public:
    QString ChooseFolder(const QString& title, const QString& startFolder) override;
};

namespace mdlBrowse {

inline constexpr const char* kTitle = "Select a drive or a folder:";

// The chosen folder, or an empty text on cancel or failure; the dialog opens
// at startFolder, or at its nearest folder that exists.
QString BrowseForFolder(FolderDialog& dialog, const QString& title, const QString& startFolder = {});

// One trailing separator removed, except from "/" itself, which would
// otherwise become the empty path and make a scan walk nothing.
QString WithoutTrailingSeparator(const QString& path);

}  // namespace mdlBrowse
