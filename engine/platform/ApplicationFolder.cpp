#include "engine/platform/ApplicationFolder.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"

#include <system_error>

namespace qirn {

namespace {

bool IsRegularFile(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

std::filesystem::path ExecutableFolder()
{
    const std::filesystem::path exe = ExecutablePath();
    if (exe.empty())
        return std::filesystem::current_path();
    return exe.parent_path();
}

Installation CurrentInstallation()
{
    Installation installation;
    installation.executableFolder = ExecutableFolder();
    installation.executableFolderWritable = IsWritableFolder(installation.executableFolder);
    installation.sample = InstalledSample(installation.executableFolder);
    installation.userDataFolder = UserDataFolder();
    return installation;
}

std::filesystem::path InstalledSample(const std::filesystem::path& executableFolder)
{
    // QIRN_SAMPLE_FOLDER_FROM_BIN: the install's data folder relative to its bin folder.
    std::filesystem::path sample =
        (executableFolder / QIRN_SAMPLE_FOLDER_FROM_BIN / kSignatureFileName).lexically_normal();
    return IsRegularFile(sample) ? sample : std::filesystem::path();
}

bool IsInstalled(const Installation& installation)
{
    // The sample beside the program marks an installation even where the
    // folder is writable (root, or a prefix in the user's home): nothing is
    // ever written among the installed files.
    return !installation.executableFolderWritable || !installation.sample.empty();
}

std::filesystem::path ApplicationFolder(const Installation& installation)
{
    if (!IsInstalled(installation) || installation.userDataFolder.empty())
        return installation.executableFolder;
    return installation.userDataFolder / kApplicationFolderName;
}

std::filesystem::path ApplicationFolder()
{
    return ApplicationFolder(CurrentInstallation());
}

std::filesystem::path DefaultSignatureFile(const Installation& installation)
{
    std::filesystem::path own = ApplicationFolder(installation) / kSignatureFileName;
    if (!installation.sample.empty() && IsInstalled(installation) && !Exists(own))
        return installation.sample;
    return own;
}

std::filesystem::path DefaultSignatureFile()
{
    return DefaultSignatureFile(CurrentInstallation());
}

std::filesystem::path PrepareApplicationFolder(const Installation& installation)
{
    std::filesystem::path folder = ApplicationFolder(installation);
    if (!IsInstalled(installation))
        return folder;
    if (installation.userDataFolder.empty())
        throw Failure(kNoUserDataFolder, "no home folder to keep sa.kvd and Results.txt in (HOME is not set)");
    CreatePrivateFolders(folder);
    if (!installation.sample.empty())
        CopyFileIfAbsent(installation.sample, folder / kSignatureFileName);
    return folder;
}

}  // namespace qirn
