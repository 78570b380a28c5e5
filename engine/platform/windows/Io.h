#pragma once

// Handles and file opening shared by the Windows platform layer.

#include "engine/platform/FileSystem.h"
#include "engine/platform/Platform.h"

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace qirn::windows {

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) { }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) { }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept;
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle();
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// Share modes that let other programs read, write, rename and delete a file
// while it is being read.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A link or junction: a reparse point that names another file. Tag 0, which
// Windows never gives a reparse point, is how Wine shows a symbolic link.
bool IsLinkTag(DWORD tag);
bool IsNameSurrogate(HANDLE file, DWORD attributes);

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info);

struct OpenedFile {
    UniqueHandle handle;
    BY_HANDLE_FILE_INFORMATION info{};
};

// Opens a regular file for reading; with Links::NotFollowed a link or
// junction fails as not a regular file. longPath is in the \\?\ form;
// context names the file in failures. Throws qirn::Failure.
OpenedFile OpenRegularFile(const std::wstring& longPath, Links links, std::string_view context);

// Reads until buffer is full or the file ends; returns the bytes read.
std::size_t ReadFully(HANDLE file, std::span<std::byte> buffer, std::string_view context);

}  // namespace qirn::windows
