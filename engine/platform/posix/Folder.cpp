// Folder listing on POSIX. Hidden: the name begins with "."; system: neither
// a regular file nor a directory (links, FIFOs, devices, sockets).

#include "engine/platform/posix/Folder.h"
#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/posix/Io.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
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

// The folder's entries read straight from the kernel. The buffer lives only
// while the folder is listed: a walk keeps many folders open for the files
// that wait in them, but needs none of their listings once read.
class DentsListing final : public RawListing {
public:
    explicit DentsListing(UniqueFd fd) : fd_(std::move(fd)) { }

    int Fd() const override { return fd_.get(); }

    bool Next(std::string_view& name, unsigned char& type) override
    {
        for (;;) {
            if (at_ == filled_ && !Fill())
                return false;
            const std::optional<DirentRecord> record =
                ParseDirentRecord(std::span(buffer_.get(), filled_).subspan(at_));
            // Records that do not fit what was read: the kernel's fault, not the folder's.
            if (!record)
                throw Failure::FromErrno(EIO, "getdents64");
            at_ += record->length;
            if (record->inode == 0)  // a deleted entry, as readdir skips it
                continue;
            name = record->name;
            type = record->type;
            return true;
        }
    }

    void Rewind() override
    {
        if (::lseek(fd_.get(), 0, SEEK_SET) < 0)
            throw Failure::FromErrno(errno, "lseek");
        at_ = filled_ = 0;
        ended_ = false;
    }

private:
    static constexpr std::size_t kBufferSize = 32768;

    bool Fill()
    {
        if (ended_)
            return false;
        if (!buffer_)
            buffer_ = std::make_unique_for_overwrite<std::byte[]>(kBufferSize);
        const ssize_t got = ::getdents64(fd_.get(), buffer_.get(), kBufferSize);
        // A folder removed while it is listed reads as ENOENT: it has ended.
        if (got < 0 && errno != ENOENT)
            throw Failure::FromErrno(errno, "getdents64");
        at_ = 0;
        if (got <= 0) {
            filled_ = 0;
            ended_ = true;
            buffer_.reset();
            return false;
        }
        filled_ = static_cast<std::size_t>(got);
        return true;
    }

    UniqueFd fd_;
    std::unique_ptr<std::byte[]> buffer_;
    std::size_t filled_ = 0;
    std::size_t at_ = 0;
    bool ended_ = false;
};

class PosixFolder final : public Folder {
public:
    PosixFolder(UniqueFd fd, std::shared_ptr<const ListingFactory> makeListing)
        : listing_((*makeListing)(std::move(fd))), makeListing_(std::move(makeListing))
    {
    }

    bool Next(FolderEntry& entry) override
    {
        unsigned char type = DT_UNKNOWN;
        for (;;) {
            if (!listing_->Next(entry.name, type))
                return false;
            if (type != DT_UNKNOWN) {
                entry.attributes = type == DT_DIR ? unsigned{kDirectory} : type == DT_REG ? 0U : unsigned{kSystem};
                break;
            }
            // A file system without entry types: look at the entry itself.
            struct stat info { };
            name_ = entry.name;
            if (::fstatat(listing_->Fd(), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
                entry.attributes = AttributesOf(info.st_mode);
                break;
            }
            // Gone since it was listed: only this entry is skipped. Any other
            // failure shows when the entry is examined as a file.
            if (errno == ENOENT)
                continue;
            entry.attributes = 0;
            break;
        }
        if (entry.name.starts_with('.'))
            entry.attributes |= kHidden;
        return true;
    }

    void Rewind() override { listing_->Rewind(); }

    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        UniqueFd fd(
            ::openat(listing_->Fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (fd.get() < 0)
            throw Failure::FromErrno(errno, name);
        return std::make_unique<PosixFolder>(std::move(fd), makeListing_);
    }

    FileIdentity Identity() override
    {
        struct stat info { };
        if (::fstat(listing_->Fd(), &info) != 0)
            throw Failure::FromErrno(errno, "fstat");
        return IdentityOf(info);
    }

    std::uint64_t Length(const std::string& name) override
    {
        struct stat info { };
        if (::fstatat(listing_->Fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            throw Failure::FromErrno(errno, name);
        return static_cast<std::uint64_t>(info.st_size);
    }

    FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        struct stat info { };
        const UniqueFd file = OpenRegularFile(listing_->Fd(), name.c_str(), Links::NotFollowed, &info);
        FileRead result;
        result.stamp = StampFromStat(info);
        result.identity = result.stamp.identity;
        result.accessedNs = Nanoseconds(info.st_atim);
        // Too long already: no need to read.
        result.size = static_cast<std::uint64_t>(info.st_size) >= buffer.size() ? buffer.size()
                                                                                : ReadFully(file.get(), buffer, name);
        return result;
    }

    std::optional<std::uint64_t> Device() override
    {
        struct stat info { };
        if (::fstat(listing_->Fd(), &info) != 0)
            throw Failure::FromErrno(errno, "fstat");
        return static_cast<std::uint64_t>(info.st_dev);
    }

    std::optional<FileStamp> Stamp(const std::string& name) override
    {
        struct stat info { };
        if (::fstatat(listing_->Fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            throw Failure::FromErrno(errno, name);
        if (!S_ISREG(info.st_mode))
            return std::nullopt;
        return StampFromStat(info);
    }

private:
    std::unique_ptr<RawListing> listing_;
    std::shared_ptr<const ListingFactory> makeListing_;
    std::string name_;  // the entry being looked at, NUL-terminated
};

}  // namespace

std::unique_ptr<RawListing> ReadDirListing(UniqueFd folder)
{
    return std::make_unique<DentsListing>(std::move(folder));
}

std::optional<DirentRecord> ParseDirentRecord(std::span<const std::byte> bytes)
{
    constexpr std::size_t kNameAt = offsetof(dirent64, d_name);
    if (bytes.size() <= kNameAt)
        return std::nullopt;
    unsigned short length = 0;
    std::memcpy(&length, bytes.data() + offsetof(dirent64, d_reclen), sizeof length);
    if (length <= kNameAt || length > bytes.size())
        return std::nullopt;
    DirentRecord record;
    record.length = length;
    ino64_t inode = 0;
    std::memcpy(&inode, bytes.data() + offsetof(dirent64, d_ino), sizeof inode);
    record.inode = inode;
    std::memcpy(&record.type, bytes.data() + offsetof(dirent64, d_type), sizeof record.type);
    const auto* const text = reinterpret_cast<const char*>(bytes.data() + kNameAt);
    record.name = std::string_view(text, ::strnlen(text, length - kNameAt));
    return record;
}

std::unique_ptr<Folder> OpenFolder(const std::string& path, ListingFactory makeListing)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw Failure::FromErrno(errno, path);
    return std::make_unique<PosixFolder>(std::move(fd), std::make_shared<const ListingFactory>(std::move(makeListing)));
}

std::unique_ptr<Folder> OpenFolder(const std::string& path)
{
    return OpenFolder(path, ReadDirListing);
}

}  // namespace qirn
