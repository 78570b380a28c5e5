// Removal by handle: the entry is opened itself (never through a link),
// with no sharing of writes or deletion, checked, and marked for deletion
// through that same handle. Nobody can swap or change the file between the
// check and the removal.

#include "engine/FileRemoval.h"

#include "engine/windows/WindowsIo.h"
#include "engine/windows/WindowsText.h"

namespace qirn {

namespace {

constexpr int kAttempts = 3;

bool Transient(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool Gone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string SystemText(DWORD error)
{
    const std::string text = windows::ErrorFailure(error, "").description();
    return text.substr(text.find(": ") + 2);
}

bool MarkForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// A read-only file is deleted as on POSIX: the attribute is cleared through
// the handle first, and put back when the deletion fails all the same.
bool MarkReadOnlyForDeletion(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) == 0)
        return false;
    basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) == 0)
        return false;
    if (MarkForDeletion(file))
        return true;
    const DWORD error = ::GetLastError();
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    ::SetLastError(error);
    return false;
}

}  // namespace

RemovalResult RemoveDetectedFile(const std::filesystem::path& path, const FileIdentity& identity)
{
    RemovalResult result;
    const std::wstring longPath = windows::LongPath(path.native());
    for (int attempt = 1;; ++attempt) {
        // Others may keep reading; nobody may write, rename or delete it
        // while it is checked.
        const windows::UniqueHandle file(::CreateFileW(longPath.c_str(),
            DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.valid()) {
            const DWORD error = ::GetLastError();
            if (Gone(error)) {
                result.status = RemovalResult::Status::Missing;
                return result;
            }
            if (Transient(error) && attempt < kAttempts) {
                ::Sleep(50);
                continue;
            }
            result.status = RemovalResult::Status::StillThere;
            result.errorText = SystemText(error);
            return result;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(file.get(), &info) == 0) {
            result.status = RemovalResult::Status::StillThere;
            result.errorText = SystemText(::GetLastError());
            return result;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            windows::IsNameSurrogate(file.get(), info.dwFileAttributes) || windows::IdentityOf(info) != identity) {
            result.status = RemovalResult::Status::Replaced;
            result.errorText = "the file was replaced after the scan";
            return result;
        }
        const bool marked = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0
            ? MarkReadOnlyForDeletion(file.get(), info.dwFileAttributes)
            : MarkForDeletion(file.get());
        if (marked) {
            // The entry goes when the handle closes, at the end of this scope.
            result.status = RemovalResult::Status::Deleted;
            return result;
        }
        const DWORD error = ::GetLastError();
        if (!Transient(error) || attempt == kAttempts) {
            result.status = RemovalResult::Status::StillThere;
            result.errorText = SystemText(error);
            return result;
        }
        ::Sleep(50);
    }
}

}  // namespace qirn
