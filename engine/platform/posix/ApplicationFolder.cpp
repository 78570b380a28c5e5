#include "engine/platform/ApplicationFolder.h"

#include "engine/Failure.h"
#include "engine/platform/posix/Io.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace qirn {

namespace {

// The home folder the password database gives the user; empty when it has none.
std::string PasswordHome()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr)
        return {};
    return found->pw_dir;
}

bool IsAbsolute(const char* path)
{
    return path != nullptr && path[0] == '/';
}

void WriteFully(int fd, const std::byte* data, std::size_t size, const std::string& context)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw Failure::FromErrno(errno, context);
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

// Removes a half-made file unless told it was handed over.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) { }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() { ::unlink(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

bool IsWritableFolder(const std::filesystem::path& folder)
{
    return !folder.empty() && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::filesystem::path UserDataFolder()
{
    // Read once on the main thread at start-up, before any other thread runs.
    const char* data = std::getenv("XDG_DATA_HOME");  // NOLINT(concurrency-mt-unsafe)
    if (IsAbsolute(data))
        return data;
    const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
    std::string folder = IsAbsolute(home) ? std::string(home) : PasswordHome();
    if (folder.empty())
        return {};
    return std::filesystem::path(folder) / ".local" / "share";
}

void CreatePrivateFolders(const std::filesystem::path& folder)
{
    std::filesystem::path made;
    for (const std::filesystem::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
            throw Failure::FromErrno(errno, made.native());
    }
    struct stat info { };
    if (::stat(folder.c_str(), &info) != 0)
        throw Failure::FromErrno(errno, folder.native());
    if (!S_ISDIR(info.st_mode))
        throw Failure::FromErrno(ENOTDIR, folder.native());
}

bool CopyFileIfAbsent(const std::filesystem::path& source, const std::filesystem::path& target)
{
    struct stat info { };
    if (::lstat(target.c_str(), &info) == 0)
        return false;
    if (errno != ENOENT)
        throw Failure::FromErrno(errno, target.native());

    const UniqueFd input = OpenRegularFile(AT_FDCWD, source.c_str(), Links::Followed);
    std::string pattern = target.native() + ".new-XXXXXX";
    const UniqueFd output(::mkostemp(pattern.data(), O_CLOEXEC));
    if (output.get() < 0)
        throw Failure::FromErrno(errno, target.parent_path().native());
    const TemporaryFile temporary(pattern);

    std::array<std::byte, 65536> buffer{};
    for (;;) {
        const std::size_t got = ReadFully(input.get(), buffer, source.native());
        WriteFully(output.get(), buffer.data(), got, temporary.Path());
        if (got < buffer.size())
            break;
    }
    if (::fsync(output.get()) != 0)
        throw Failure::FromErrno(errno, temporary.Path());

    // A link never replaces a file that appeared meanwhile.
    if (::link(temporary.Path().c_str(), target.c_str()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EPERM && errno != EOPNOTSUPP)
        throw Failure::FromErrno(errno, target.native());
    // A file system without hard links.
    if (::rename(temporary.Path().c_str(), target.c_str()) != 0)
        throw Failure::FromErrno(errno, target.native());
    return true;
}

}  // namespace qirn
