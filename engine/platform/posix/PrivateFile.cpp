#include "engine/platform/PrivateFile.h"

#include "engine/Failure.h"
#include "engine/platform/posix/Io.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace qirn {

namespace {

std::filesystem::path HomeFromUserDatabase()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

std::string Describe(const std::filesystem::path& path, std::string_view what)
{
    return path.native() + ": " + std::string(what);
}

// Nobody but the owner may add, remove or rename entries (sticky folders
// such as /tmp only let owners remove their own).
bool FolderSafe(const struct stat& info)
{
    const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return (info.st_uid == ::geteuid() || info.st_uid == 0) && (!othersWrite || (info.st_mode & S_ISVTX) != 0);
}

// The superuser takes a folder from the environment only when no other user
// owns it or any folder above it (folders still to be made are its own).
bool OwnedBySuperuserAllTheWay(const std::filesystem::path& folder)
{
    for (std::filesystem::path at = folder;; at = at.parent_path()) {
        struct stat info { };
        if (::lstat(at.c_str(), &info) != 0 ? errno != ENOENT : info.st_uid != 0)
            return false;
        if (at == at.root_path() || !at.has_relative_path())
            return true;
    }
}

}  // namespace

std::filesystem::path DefaultCacheFolder()
{
    std::filesystem::path base;
    // Read on the main thread before a scan starts its workers.
    const char* xdg = std::getenv("XDG_CACHE_HOME");  // NOLINT(concurrency-mt-unsafe)
    const char* home = std::getenv("HOME");           // NOLINT(concurrency-mt-unsafe)
    if (xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (home != nullptr && home[0] == '/')
        base = std::filesystem::path(home) / ".cache";
    if (::geteuid() == 0 && !base.empty() && !OwnedBySuperuserAllTheWay(base))
        base.clear();
    if (base.empty())
        base = HomeFromUserDatabase() / ".cache";
    return base / "qirn-checker";
}

PrivateFile PreparePrivateFile(const std::filesystem::path& file)
{
    PrivateFile result;
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    struct stat info { };
    if (::lstat(folder.c_str(), &info) != 0 && errno == ENOENT) {
        std::error_code ignored;
        std::filesystem::create_directories(folder.parent_path(), ignored);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            result.problem = Describe(folder, ErrorText(errno));
            return result;
        }
    }
    if (::stat(folder.c_str(), &info) != 0) {
        result.problem = Describe(folder, ErrorText(errno));
        return result;
    }
    if (!S_ISDIR(info.st_mode) || !FolderSafe(info)) {
        result.problem = Describe(folder, "the folder may be changed by another user");
        return result;
    }

    int fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        result.problem = Describe(file, errno == ELOOP ? "is a link" : ErrorText(errno));
        return result;
    }
    const UniqueFd owned(fd);
    if (::fstat(fd, &info) != 0) {
        result.problem = Describe(file, ErrorText(errno));
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.problem = Describe(file, "not a regular file");
        return result;
    }
    if (info.st_uid != ::geteuid()) {
        result.problem = Describe(file, "belongs to another user");
        return result;
    }
    if ((info.st_mode & 077) != 0 && ::fchmod(fd, info.st_mode & 0700) != 0) {
        result.problem = Describe(file, ErrorText(errno));
        return result;
    }
    result.ready = true;
    return result;
}

}  // namespace qirn
