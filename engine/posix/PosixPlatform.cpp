#include "engine/Platform.h"

#include "engine/Failure.h"
#include "engine/posix/PosixIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qirn {

void AdviseLargeBlock(void* block, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // Rounded outward, so that the advice covers the whole mapping of a large
    // allocation: a mapping split in parts could no longer grow by remapping.
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t before = reinterpret_cast<std::uintptr_t>(block) & (page - 1);
    const std::size_t length = (before + bytes + page - 1) & ~(page - 1);
    // Only advice: a system without huge pages keeps the block as it is.
    madvise(static_cast<char*>(block) - before, length, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

std::filesystem::path PathFromText(std::string_view text)
{
    return std::filesystem::path(std::string(text));
}

std::string TextFromPath(const std::filesystem::path& path)
{
    return path.native();
}

InputFile::InputFile(const std::filesystem::path& path, Links links) : context_(path.native())
{
    struct stat info { };
    UniqueFd file = OpenRegularFile(AT_FDCWD, path.c_str(), links, &info);
    size_ = static_cast<std::uint64_t>(info.st_size);
    identity_ = IdentityOf(info);
    handle_ = file.release();
}

InputFile::~InputFile()
{
    ::close(static_cast<int>(handle_));
}

std::size_t InputFile::Read(std::span<std::byte> buffer)
{
    return ReadFully(static_cast<int>(handle_), buffer, context_);
}

std::FILE* OpenForReading(const std::filesystem::path& path)
{
    return std::fopen(path.c_str(), "rb");
}

bool IsFolder(const std::filesystem::path& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::filesystem::path ExecutablePath()
{
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe;
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return {argv + std::min(argc, 1), argv + argc};
}

std::size_t OpenFileLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return SIZE_MAX;
    return static_cast<std::size_t>(files.rlim_cur);
}

void PrepareCommandLineProcess()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

}  // namespace qirn
