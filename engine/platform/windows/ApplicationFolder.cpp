#include "engine/platform/ApplicationFolder.h"

#include "engine/platform/windows/Text.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace qirn {

bool IsWritableFolder(const std::filesystem::path& folder)
{
    if (folder.empty())
        return false;
    // Access rights are only known by trying: a file that is gone once closed.
    const std::wstring probe =
        windows::LongPath((folder / L".qirn-write-probe").native()) + std::to_wstring(::GetCurrentProcessId());
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::filesystem::path UserDataFolder()
{
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0')
        return {};
    return std::filesystem::path(local);
}

void CreatePrivateFolders(const std::filesystem::path& folder)
{
    // Folders below the user's profile inherit its owner-only access.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        throw windows::ErrorFailure(
            static_cast<unsigned long>(error ? error.value() : ERROR_DIRECTORY), windows::Narrow(folder.native()));
}

bool CopyFileIfAbsent(const std::filesystem::path& source, const std::filesystem::path& target)
{
    if (::CopyFileW(windows::LongPath(source.native()).c_str(), windows::LongPath(target.native()).c_str(), TRUE))
        return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return false;
    throw windows::ErrorFailure(error, windows::Narrow(target.native()));
}

}  // namespace qirn
