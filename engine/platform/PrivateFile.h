#pragma once

// Files that only their owner may touch, such as the digest cache: the
// platform layer makes and checks them.

#include <filesystem>
#include <string>

namespace qirn {

// The folder for this user's cache files: $XDG_CACHE_HOME/qirn-checker, or
// ~/.cache/qirn-checker. The superuser takes its own home from the user
// database, never from variables that another user's session may have left.
std::filesystem::path DefaultCacheFolder();

struct PrivateFile {
    bool ready = false;
    std::string problem;  // why the file cannot be used, when not ready
};

// Makes the file's folder (private to the user when it is made here) and the
// file itself (mode 0600) when missing. The file is ready when it is a
// regular file of the effective user that nobody else may write, in a folder
// that nobody else may change, and this process may write it.
PrivateFile PreparePrivateFile(const std::filesystem::path& file);

}  // namespace qirn
