#include "ui/mdlBrowse.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString SystemFolderDialog::ChooseFolder(const QString& title, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(nullptr, title, startFolder, QFileDialog::ShowDirsOnly);
}

namespace mdlBrowse {

QString BrowseForFolder(FolderDialog& dialog, const QString& title, const QString& startFolder)
{
    // An empty or vanished folder would open the dialog at the working folder.
    QString start = QDir::cleanPath(QDir::fromNativeSeparators(startFolder));
    while (!start.isEmpty() && !QFileInfo(start).isDir()) {
        const QString parent = QFileInfo(start).path();
        start = parent == start ? QString() : parent;
    }
    if (start.isEmpty())
        start = QDir::homePath();
    return QDir::toNativeSeparators(dialog.ChooseFolder(title, start));
}

QString WithoutTrailingSeparator(const QString& path)
{
    const QChar separator = QDir::separator();
    if (!path.endsWith(separator) || path == separator)
        return path;
    return path.chopped(1);
}

}  // namespace mdlBrowse
