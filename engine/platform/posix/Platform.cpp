#include "engine/platform/Platform.h"

#include "engine/Failure.h"
#include "engine/platform/posix/Io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qirn {

namespace {

// The huge page size of x86-64 and of ARM64 with 4 KiB pages. Elsewhere the
// alignment merely goes unused.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The bytes from at to the next huge page boundary; 0 on one.
std::size_t ToHugePage(const void* at)
{
    return (kHugePage - reinterpret_cast<std::uintptr_t>(at) % kHugePage) % kHugePage;
}

}  // namespace

LargeBlock MapLargeBlock(std::size_t bytes)
{
    if (bytes > SIZE_MAX - 2 * kHugePage)
        throw std::bad_alloc();
    const std::size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    // One huge page more than needed, so that an aligned block can be cut
    // out of it: only an aligned range can be a huge page.
    void* const mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const std::size_t offset = ToHugePage(mapped);
    char* const block = static_cast<char*>(mapped) + offset;
    if (offset > 0)
        munmap(mapped, offset);
    munmap(block + length, kHugePage - offset);
#ifdef MADV_HUGEPAGE
    // Only advice: a system without huge pages keeps small ones.
    madvise(block, length, MADV_HUGEPAGE);
#endif
    return {block, length};
}

LargeBlock GrowLargeBlock(LargeBlock block, std::size_t bytes)
{
    const LargeBlock grown = MapLargeBlock(bytes);
#ifdef MREMAP_FIXED
    // The held pages move to the start of the new block, which they replace.
    if (mremap(block.data, block.bytes, block.bytes, MREMAP_MAYMOVE | MREMAP_FIXED, grown.data) == MAP_FAILED) {
        UnmapLargeBlock(grown);
        throw std::bad_alloc();
    }
#else
    std::memcpy(grown.data, block.data, block.bytes);
    UnmapLargeBlock(block);
#endif
    return grown;
}

void UnmapLargeBlock(LargeBlock block)
{
    munmap(block.data, block.bytes);
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
