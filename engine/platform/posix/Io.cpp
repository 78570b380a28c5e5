#include "engine/platform/posix/Io.h"

#include "engine/Failure.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace qirn {

UniqueFd::~UniqueFd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

UniqueFd OpenRegularFile(int folderFd, const char* name, Links links, struct stat* info)
{
    const int noFollow = links == Links::NotFollowed ? O_NOFOLLOW : 0;
    UniqueFd file(::openat(folderFd, name, O_RDONLY | noFollow | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        throw Failure::FromErrno(errno, name);
    struct stat own { };
    struct stat& stat = info != nullptr ? *info : own;
    if (::fstat(file.get(), &stat) != 0)
        throw Failure::FromErrno(errno, name);
    if (!S_ISREG(stat.st_mode))
        throw Failure(kNotRegularFile, std::string(name) + ": not a regular file");
    return file;
}

FileIdentity IdentityOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileStamp StampFromStat(const struct stat& info)
{
    return {IdentityOf(info), static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim),
        Nanoseconds(info.st_ctim)};
}

std::size_t ReadFully(int fd, std::span<std::byte> buffer, std::string_view context)
{
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + total, buffer.size() - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Failure::FromErrno(errno, context);
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

}  // namespace qirn
