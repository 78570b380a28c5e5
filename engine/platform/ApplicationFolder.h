#pragma once

// The application folder holds sa.kvd, Results.txt and the settings. Run from
// its build folder the program keeps them beside the executable; an installed
// program (its folder not writable, or the sample sa.kvd installed beside it)
// keeps them in the user's data folder, under kApplicationFolderName.

#include <filesystem>

namespace qirn {

inline constexpr char kApplicationFolderName[] = "qirn-checker";
inline constexpr char kSignatureFileName[] = "sa.kvd";

// What the choice of folder rests on.
struct Installation {
    std::filesystem::path executableFolder;
    bool executableFolderWritable = false;
    std::filesystem::path sample;          // the installed sample sa.kvd; empty when there is none
    std::filesystem::path userDataFolder;  // $XDG_DATA_HOME or ~/.local/share (%LOCALAPPDATA%); empty when unknown
};

// The facts of the running program.
Installation CurrentInstallation();
// The sample sa.kvd an installation puts beside the executable's folder
// (share/qirn-checker/ next to bin/); empty when there is none.
std::filesystem::path InstalledSample(const std::filesystem::path& executableFolder);

bool IsInstalled(const Installation& installation);
std::filesystem::path ApplicationFolder(const Installation& installation);
std::filesystem::path ApplicationFolder();

// The signature file a headless scan reads unless told otherwise: sa.kvd in the
// application folder, or the installed sample while that folder holds none.
std::filesystem::path DefaultSignatureFile(const Installation& installation);
std::filesystem::path DefaultSignatureFile();

// Makes an installed program's application folder ready: creates it, for its
// owner alone, and copies the installed sample into it when it holds no
// sa.kvd. Returns the folder. Throws qirn::Failure.
std::filesystem::path PrepareApplicationFolder(const Installation& installation);

// The folder of the running executable.
std::filesystem::path ExecutableFolder();

// Platform layer (engine/posix/, engine/windows/).
bool IsWritableFolder(const std::filesystem::path& folder);
std::filesystem::path UserDataFolder();
// Creates folder and any missing parent, each readable by its owner alone. Throws qirn::Failure.
void CreatePrivateFolders(const std::filesystem::path& folder);
// Copies source to target unless target exists; target appears complete or
// not at all. Returns whether it copied. Throws qirn::Failure.
bool CopyFileIfAbsent(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace qirn
