#include "ui/mdlBrowse.h"

#include <QDir>
#include <QFileDialog>

QString SystemFolderDialog::ChooseFolder(const QString& title)
{
    return QFileDialog::getExistingDirectory(nullptr, title, QString(), QFileDialog::ShowDirsOnly);
}

namespace mdlBrowse {

QString BrowseForFolder(FolderDialog& dialog, const QString& title)
{
    return QDir::toNativeSeparators(dialog.ChooseFolder(title));
}

QString WithoutTrailingSeparator(const QString& path)
{
    const QChar separator = QDir::separator();
    if (!path.endsWith(separator) || path == separator)
        return path;
    return path.chopped(1);
}

}  // namespace mdlBrowse
