#include "engine/platform/windows/Io.h"

#include "engine/Failure.h"
#include "engine/platform/windows/Text.h"

#include <algorithm>

namespace qirn::windows {

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept
{
    if (this != &other) {
        if (valid())
            ::CloseHandle(handle_);
        handle_ = other.release();
    }
    return *this;
}

UniqueHandle::~UniqueHandle()
{
    if (valid())
        ::CloseHandle(handle_);
}

bool IsLinkTag(DWORD tag)
{
    return tag == 0 || IsReparseTagNameSurrogate(tag);
}

bool IsNameSurrogate(HANDLE file, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // When the tag cannot be read, the entry counts as a link.
    if (::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) == 0)
        return true;
    return IsLinkTag(tag.ReparseTag);
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

namespace {

UniqueHandle OpenForReading(const std::wstring& longPath, DWORD flags, std::string_view context)
{
    UniqueHandle file(::CreateFileW(longPath.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
    if (!file.valid())
        throw LastErrorFailure(context);
    return file;
}

BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE file, std::string_view context)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) == 0)
        throw LastErrorFailure(context);
    return info;
}

Failure NotRegular(std::string_view context)
{
    return {kNotRegularFile, std::string(context) + ": not a regular file"};
}

}  // namespace

OpenedFile OpenRegularFile(const std::wstring& longPath, Links links, std::string_view context)
{
    OpenedFile opened;
    // The entry itself, never what a link names; backup semantics let a
    // folder open too, so that it can be told apart and refused.
    opened.handle = OpenForReading(longPath, FILE_FLAG_OPEN_REPARSE_POINT, context);
    opened.info = InformationOf(opened.handle.get(), context);
    if ((opened.info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (IsNameSurrogate(opened.handle.get(), opened.info.dwFileAttributes)) {
            if (links == Links::NotFollowed)
                throw NotRegular(context);
        }
        // A link to follow, or a file whose data a file-system filter
        // supplies: open it normally. With a link not to follow, the second
        // open must still reach the same file.
        const FileIdentity first = IdentityOf(opened.info);
        opened.handle = OpenForReading(longPath, 0, context);
        opened.info = InformationOf(opened.handle.get(), context);
        if (links == Links::NotFollowed && IdentityOf(opened.info) != first)
            throw NotRegular(context);
    }
    if ((opened.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        ::GetFileType(opened.handle.get()) != FILE_TYPE_DISK)
        throw NotRegular(context);
    return opened;
}

std::size_t ReadFully(HANDLE file, std::span<std::byte> buffer, std::string_view context)
{
    std::size_t total = 0;
    while (total < buffer.size()) {
        const auto want = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - total, 1u << 30));
        DWORD got = 0;
        if (::ReadFile(file, buffer.data() + total, want, &got, nullptr) == 0)
            throw LastErrorFailure(context);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

}  // namespace qirn::windows
