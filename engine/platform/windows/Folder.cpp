// Folder listing on Windows with FindFirstFileExW. The attributes are the
// file system's own; a link or junction additionally counts as a system
// entry, so that the walk never lists it and never enters it. Each open
// folder is held by a handle that refuses renaming and deletion, so the
// paths below it keep naming what was listed.

#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/windows/Io.h"
#include "engine/platform/windows/Text.h"

namespace qirn {

namespace {

using windows::UniqueHandle;

constexpr unsigned kKeptAttributes = kReadOnly | kHidden | kSystem | kDirectory | kArchive;

// The folder's handle: other programs may read and write inside it, but
// not rename or delete it while the walk is in it.
UniqueHandle PinFolder(const std::wstring& longPath, DWORD flags, std::string_view context)
{
    UniqueHandle folder(::CreateFileW(longPath.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
    if (!folder.valid())
        throw windows::LastErrorFailure(context);
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(folder.get(), &info) == 0)
        throw windows::LastErrorFailure(context);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        windows::IsNameSurrogate(folder.get(), info.dwFileAttributes))
        throw Failure(kNotRegularFile, std::string(context) + ": not a folder");
    return folder;
}

class WindowsFolder final : public Folder {
public:
    // prefix: the folder's \\?\ path ending in "\".
    WindowsFolder(std::wstring prefix, UniqueHandle pin) : prefix_(std::move(prefix)), pin_(std::move(pin)) { }
    WindowsFolder(const WindowsFolder&) = delete;
    WindowsFolder& operator=(const WindowsFolder&) = delete;
    ~WindowsFolder() override { CloseListing(); }

    bool Next(FolderEntry& entry) override
    {
        WIN32_FIND_DATAW data{};
        if (ended_)
            return false;
        if (find_ == INVALID_HANDLE_VALUE) {
            find_ = ::FindFirstFileExW((prefix_ + L'*').c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                FIND_FIRST_EX_LARGE_FETCH);
            if (find_ == INVALID_HANDLE_VALUE)
                return Ended(::GetLastError());
        } else if (::FindNextFileW(find_, &data) == 0) {
            return Ended(::GetLastError());
        }
        name_ = windows::Narrow(data.cFileName);
        entry.name = name_;
        entry.attributes = data.dwFileAttributes & kKeptAttributes;
        // dwReserved0 holds the reparse tag.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && windows::IsLinkTag(data.dwReserved0))
            entry.attributes |= kSystem;
        return true;
    }

    void Rewind() override
    {
        CloseListing();
        ended_ = false;
    }

    std::unique_ptr<Folder> OpenSubfolder(const std::string& name) override
    {
        std::wstring path = prefix_ + windows::Wide(name);
        UniqueHandle pin = PinFolder(path, FILE_FLAG_OPEN_REPARSE_POINT, name);
        path += L'\\';
        return std::make_unique<WindowsFolder>(std::move(path), std::move(pin));
    }

    std::uint64_t Length(const std::string& name) override
    {
        // The entry itself: a link's own attributes, never its target's.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExW((prefix_ + windows::Wide(name)).c_str(), GetFileExInfoStandard, &data) == 0)
            throw windows::LastErrorFailure(name);
        return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }

    FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) override
    {
        const windows::OpenedFile file =
            windows::OpenRegularFile(prefix_ + windows::Wide(name), Links::NotFollowed, name);
        FileRead result;
        result.identity = windows::IdentityOf(file.info);
        const std::uint64_t size = (std::uint64_t{file.info.nFileSizeHigh} << 32) | file.info.nFileSizeLow;
        // Too long already: no need to read.
        result.size = size >= buffer.size() ? buffer.size() : windows::ReadFully(file.handle.get(), buffer, name);
        return result;
    }

    FileIdentity Identity() override
    {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(pin_.get(), &info) == 0)
            throw windows::LastErrorFailure(windows::Narrow(prefix_));
        return windows::IdentityOf(info);
    }

    std::optional<std::uint64_t> Device() override
    {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(pin_.get(), &info) == 0)
            throw windows::LastErrorFailure(windows::Narrow(prefix_));
        return info.dwVolumeSerialNumber;
    }

private:
    bool Ended(DWORD error)
    {
        ended_ = true;
        CloseListing();
        if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND)
            return false;
        throw windows::ErrorFailure(error, windows::Narrow(prefix_));
    }

    void CloseListing()
    {
        if (find_ != INVALID_HANDLE_VALUE)
            ::FindClose(find_);
        find_ = INVALID_HANDLE_VALUE;
    }

    std::wstring prefix_;
    UniqueHandle pin_;
    HANDLE find_ = INVALID_HANDLE_VALUE;
    bool ended_ = false;
    std::string name_;
};

}  // namespace

std::unique_ptr<Folder> OpenFolder(const std::string& path)
{
    std::wstring folder = windows::LongPath(windows::Wide(path));
    // A drive or share root keeps its "\"; any other folder is opened without.
    while (folder.size() > 1 && folder.back() == L'\\' && folder[folder.size() - 2] != L':')
        folder.pop_back();
    // A link naming the folder itself is followed.
    UniqueHandle pin = PinFolder(folder, 0, path);
    if (folder.back() != L'\\')
        folder += L'\\';
    return std::make_unique<WindowsFolder>(std::move(folder), std::move(pin));
}

}  // namespace qirn
