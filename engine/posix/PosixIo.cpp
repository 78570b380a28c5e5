#include "engine/posix/PosixIo.h"

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

FileStamp StampFromStat(const struct stat& info)
{
    constexpr std::int64_t kSecond = 1'000'000'000;
    FileStamp stamp;
    stamp.identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * kSecond + info.st_mtim.tv_nsec;
    stamp.changedNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * kSecond + info.st_ctim.tv_nsec;
    return stamp;
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
