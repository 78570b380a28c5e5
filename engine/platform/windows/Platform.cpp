#include "engine/platform/Platform.h"

#include "engine/platform/windows/Io.h"
#include "engine/platform/windows/Text.h"

#include <cstring>
#include <new>
#include <shellapi.h>

namespace qirn {

LargeBlock MapLargeBlock(std::size_t bytes)
{
    // Large pages there need a privilege that a scanner does not hold.
    void* const block = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr)
        throw std::bad_alloc();
    return {block, bytes};
}

LargeBlock GrowLargeBlock(LargeBlock block, std::size_t bytes)
{
    const LargeBlock grown = MapLargeBlock(bytes);
    std::memcpy(grown.data, block.data, block.bytes);
    UnmapLargeBlock(block);
    return grown;
}

void UnmapLargeBlock(LargeBlock block)
{
    ::VirtualFree(block.data, 0, MEM_RELEASE);
}

std::filesystem::path PathFromText(std::string_view text)
{
    return std::filesystem::path(windows::Wide(text));
}

std::string TextFromPath(const std::filesystem::path& path)
{
    return windows::Narrow(path.native());
}

InputFile::InputFile(const std::filesystem::path& path, Links links) : context_(TextFromPath(path))
{
    windows::OpenedFile opened = windows::OpenRegularFile(windows::LongPath(path.native()), links, context_);
    size_ = (std::uint64_t{opened.info.nFileSizeHigh} << 32) | opened.info.nFileSizeLow;
    identity_ = windows::IdentityOf(opened.info);
    handle_ = reinterpret_cast<std::intptr_t>(opened.handle.release());
}

InputFile::~InputFile()
{
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t InputFile::Read(std::span<std::byte> buffer)
{
    return windows::ReadFully(reinterpret_cast<HANDLE>(handle_), buffer, context_);
}

std::FILE* OpenForReading(const std::filesystem::path& path)
{
    return ::_wfopen(windows::LongPath(path.native()).c_str(), L"rb");
}

bool IsFolder(const std::filesystem::path& path)
{
    const DWORD attributes = ::GetFileAttributesW(windows::LongPath(path.native()).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link: what it names decides.
    const windows::UniqueHandle folder(::CreateFileW(windows::LongPath(path.native()).c_str(), FILE_READ_ATTRIBUTES,
        windows::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return folder.valid() && ::GetFileInformationByHandle(folder.get(), &info) != 0 &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::filesystem::path ExecutablePath()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return {};
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name);
        }
        if (name.size() >= 32768)
            return {};
        name.resize(name.size() * 2);
    }
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/)
{
    // argv is in the ANSI code page, which cannot hold every name.
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide != nullptr && i < count; ++i)
        args.push_back(windows::Narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

std::size_t OpenFileLimit()
{
    return SIZE_MAX;
}

void PrepareCommandLineProcess()
{
    // Handles have no per-process limit worth raising.
    ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace qirn
