#include "engine/platform/SaveFile.h"

#include "engine/platform/SystemRandom.h"
#include "engine/platform/posix/Io.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qirn {

namespace {

constexpr int kNameAttempts = 100;

SaveResult Failed(SaveResult::Step step, int error, const std::filesystem::path& name)
{
    return {step, error, std::generic_category().message(error), name.native()};
}

// A new, empty file beside the target, under a name nobody else uses.
UniqueFd CreateBeside(int folderFd, const std::filesystem::path& name, mode_t mode, std::string& created)
{
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::uint64_t tag = 0;
        FillFromSystemRandom(std::as_writable_bytes(std::span(&tag, 1)));
        created = "." + name.native() + "." + std::to_string(tag) + ".tmp";
        const int fd = ::openat(folderFd, created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return UniqueFd(fd);
    }
    errno = EEXIST;
    return UniqueFd(-1);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

enum class Target { Replaced, NewPrivate };

SaveResult Save(const std::filesystem::path& file, std::string_view bytes, Target target)
{
    using Step = SaveResult::Step;
    const std::filesystem::path name = file.filename();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0)
        return Failed(Step::Open, errno, name);

    // The old entry is looked at, never opened: it may be a FIFO or a link.
    struct stat old { };
    const bool exists = ::fstatat(folderFd.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && target == Target::NewPrivate)
        return Failed(Step::Rename, EEXIST, name);
    if (exists && S_ISDIR(old.st_mode))
        return Failed(Step::Open, EISDIR, name);
    if (exists && S_ISREG(old.st_mode) && ::faccessat(folderFd.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
        return Failed(Step::Open, errno, name);

    std::string created;
    UniqueFd fd = CreateBeside(folderFd.get(), name, target == Target::NewPrivate ? 0600 : 0666, created);
    if (fd.get() < 0)
        return Failed(Step::Open, errno, name);
    const auto abandon = [&](Step step, int error) {
        ::unlinkat(folderFd.get(), created.c_str(), 0);
        return Failed(step, error, name);
    };
    // A replaced file keeps its permissions.
    if (exists && S_ISREG(old.st_mode) && ::fchmod(fd.get(), old.st_mode & 0777) != 0)
        return abandon(Step::Open, errno);
    if (!WriteAll(fd.get(), bytes))
        return abandon(Step::Write, errno);
    if (::fsync(fd.get()) != 0)
        return abandon(Step::Flush, errno);
    // Some file systems report a failed write only at close.
    if (::close(fd.release()) != 0)
        return abandon(Step::Close, errno);
    if (target == Target::NewPrivate) {
        // linkat fails on an existing name, so nothing is ever replaced.
        if (::linkat(folderFd.get(), created.c_str(), folderFd.get(), name.c_str(), 0) != 0)
            return abandon(Step::Rename, errno);
        ::unlinkat(folderFd.get(), created.c_str(), 0);
    } else if (::renameat(folderFd.get(), created.c_str(), folderFd.get(), name.c_str()) != 0) {
        return abandon(Step::Rename, errno);
    }
    // The rename itself reaches the disk with the folder; the content already has.
    ::fsync(folderFd.get());
    return {};
}

}  // namespace

SaveResult SaveFileContent(const std::filesystem::path& file, std::string_view bytes)
{
    return Save(file, bytes, Target::Replaced);
}

SaveResult SaveNewPrivateFile(const std::filesystem::path& file, std::string_view bytes)
{
    return Save(file, bytes, Target::NewPrivate);
}

}  // namespace qirn
