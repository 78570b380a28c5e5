#include "engine/FileRemoval.h"

#include "engine/Failure.h"
#include "engine/posix/PosixIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {

namespace {

constexpr int kAttempts = 3;

bool Transient(int error)
{
    return error == EBUSY || error == ETXTBSY || error == EAGAIN || error == EINTR;
}

}  // namespace

RemovalResult RemoveDetectedFile(const std::filesystem::path& path, const FileIdentity& identity)
{
    RemovalResult result;
    const std::filesystem::path name = path.filename();
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return result;
        result.status = RemovalResult::Status::StillThere;
        result.errorText = ErrorText(errno);
        return result;
    }

    for (int attempt = 1;; ++attempt) {
        struct stat info { };
        if (::fstatat(folderFd.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            result.status = errno == ENOENT ? RemovalResult::Status::Missing : RemovalResult::Status::StillThere;
            result.errorText = errno == ENOENT ? "" : ErrorText(errno);
            return result;
        }
        if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_dev) != identity.device ||
            static_cast<std::uint64_t>(info.st_ino) != identity.inode) {
            result.status = RemovalResult::Status::Replaced;
            result.errorText = "the file was replaced after the scan";
            return result;
        }
        // unlinkat removes the entry itself and never follows a link.
        if (::unlinkat(folderFd.get(), name.c_str(), 0) == 0) {
            result.status = RemovalResult::Status::Deleted;
            return result;
        }
        const int error = errno;
        if (error == ENOENT) {
            result.status = RemovalResult::Status::Missing;
            return result;
        }
        if (!Transient(error) || attempt == kAttempts) {
            result.status = RemovalResult::Status::StillThere;
            result.errorText = ErrorText(error);
            return result;
        }
    }
}

}  // namespace qirn
