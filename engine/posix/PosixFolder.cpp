// Folder listing on POSIX. Hidden: the name begins with "."; system: neither
// a regular file nor a directory (links, FIFOs, devices, sockets).

#include "engine/Failure.h"
#include "engine/FileSystem.h"
#include "engine/posix/PosixIo.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {

namespace {

unsigned AttributesOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return kDirectory;
    if (S_ISREG(mode))
        return 0;
    return kSystem;
}

class PosixFolder final : public Folder {
public:
    explicit PosixFolder(UniqueFd fd)
    {
        dir_ = ::fdopendir(fd.get());
        if (dir_ == nullptr)
            throw Failure::FromErrno(errno, "fdopendir");
        fd.release();
    }
    PosixFolder(const PosixFolder&) = delete;
    PosixFolder& operator=(const PosixFolder&) = delete;
    ~PosixFolder() override { ::closedir(dir_); }

    bool Next(FolderEntry& entry) override
    {
        errno = 0;
        const dirent* found = ::readdir(dir_);
        if (found == nullptr) {
            if (errno != 0)
                throw Failure::FromErrno(errno, "readdir");
            return false;
        }
        entry.name = found->d_name;
        switch (found->d_type) {
        case DT_DIR:
            entry.attributes = kDirectory;
            break;
        case DT_REG:
            entry.attributes = 0;
            break;
        case DT_UNKNOWN: {
            struct stat info { };
            if (::fstatat(::dirfd(dir_), found->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                throw Failure::FromErrno(errno, found->d_name);
            entry.attributes = AttributesOf(info.st_mode);
            break;
        }
        default:
            entry.attributes = kSystem;
            break;
        }
        if (found->d_name[0] == '.')
            entry.attributes |= kHidden;
        return true;
    }

    void Rewind() override { ::rewinddir(dir_); }

    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        UniqueFd fd(
            ::openat(::dirfd(dir_), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (fd.get() < 0)
            throw Failure::FromErrno(errno, name);
        return std::make_unique<PosixFolder>(std::move(fd));
    }

    std::uint64_t Length(const std::string& name) override
    {
        struct stat info { };
        if (::fstatat(::dirfd(dir_), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            throw Failure::FromErrno(errno, name);
        return static_cast<std::uint64_t>(info.st_size);
    }

    FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        struct stat info { };
        const UniqueFd file = OpenRegularFile(::dirfd(dir_), name.c_str(), Links::NotFollowed, &info);
        FileRead result;
        result.identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
        // Too long already: no need to read.
        result.size = static_cast<std::uint64_t>(info.st_size) >= buffer.size() ? buffer.size()
                                                                                : ReadFully(file.get(), buffer, name);
        return result;
    }

    std::optional<std::uint64_t> Device() override
    {
        struct stat info { };
        if (::fstat(::dirfd(dir_), &info) != 0)
            throw Failure::FromErrno(errno, "fstat");
        return static_cast<std::uint64_t>(info.st_dev);
    }

private:
    DIR* dir_ = nullptr;
};

}  // namespace

std::unique_ptr<Folder> OpenFolder(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw Failure::FromErrno(errno, path);
    return std::make_unique<PosixFolder>(std::move(fd));
}

}  // namespace qirn
