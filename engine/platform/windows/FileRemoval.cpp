// Setting a detected file aside on Windows: the entry itself is opened (never
// through a link) with no sharing of writes or deletion. While that handle is
// open nobody can write, rename or delete it, so the file ID and the digest
// are checked on it, and the removal is marked through the same handle.

#include "engine/remedy/FileRemoval.h"

#include "engine/Failure.h"
#include "engine/platform/windows/Io.h"
#include "engine/platform/windows/Text.h"

#include <cstdint>
#include <new>
#include <vector>

namespace qirn {

namespace {

using Status = RemovalResult::Status;

constexpr int kAttempts = 3;
constexpr const char* kChanged = "its content changed after the scan";

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

RemovalResult Result(Status status, std::string text = {})
{
    return {status, std::move(text), {}};
}

// Held by a handle that shares only reading: nothing to put back, closing the
// handle without marking it lets it be.
class WindowsHeldFile final : public HeldFile {
public:
    WindowsHeldFile(windows::UniqueHandle file, DWORD attributes, std::vector<std::byte> content)
        : file_(std::move(file)), attributes_(attributes), content_(std::move(content))
    {
    }

    std::span<const std::byte> Content() const override { return content_; }

    RemovalResult Remove() override
    {
        for (int attempt = 1;; ++attempt) {
            const bool marked = (attributes_ & FILE_ATTRIBUTE_READONLY) != 0
                ? MarkReadOnlyForDeletion(file_.get(), attributes_)
                : MarkForDeletion(file_.get());
            if (marked) {
                // The entry goes when the handle closes.
                file_ = windows::UniqueHandle();
                return Result(Status::Deleted);
            }
            const DWORD error = ::GetLastError();
            if (!Transient(error) || attempt == kAttempts)
                return Result(Status::StillThere, SystemText(error));
            ::Sleep(50);
        }
    }

private:
    windows::UniqueHandle file_;
    DWORD attributes_;
    std::vector<std::byte> content_;
};

}  // namespace

Seizure SeizeDetectedFile(const DetectedFile& detected)
{
    const std::wstring longPath = windows::LongPath(detected.path.native());
    for (int attempt = 1;; ++attempt) {
        // Others may keep reading; nobody may write, rename or delete it
        // while it is held.
        windows::UniqueHandle file(::CreateFileW(longPath.c_str(),
            DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.valid()) {
            const DWORD error = ::GetLastError();
            if (Gone(error))
                return {nullptr, Result(Status::Missing)};
            if (Transient(error) && attempt < kAttempts) {
                ::Sleep(50);
                continue;
            }
            return {nullptr, Result(Status::StillThere, SystemText(error))};
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(file.get(), &info) == 0)
            return {nullptr, Result(Status::StillThere, SystemText(::GetLastError()))};
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            windows::IsNameSurrogate(file.get(), info.dwFileAttributes) ||
            windows::IdentityOf(info) != detected.identity)
            return {nullptr, Result(Status::Replaced, "the file was replaced after the scan")};
        // Nobody may write it while it is held, so its length stands.
        const std::uint64_t length = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        if (length > kLargestDigested)
            return {nullptr, Result(Status::Changed, kChanged)};
        std::vector<std::byte> content;
        try {
            content.resize(static_cast<std::size_t>(length) + 1);
            content.resize(windows::ReadFully(file.get(), content, windows::Narrow(detected.path.native())));
        } catch (const std::bad_alloc&) {
            return {nullptr, Result(Status::StillThere, "there is not enough memory to check its content")};
        } catch (const Failure& failure) {
            return {nullptr,
                Result(Status::StillThere, std::string("its content cannot be checked: ") + failure.description())};
        }
        if (Md5().Compute(content) != detected.digest)
            return {nullptr, Result(Status::Changed, kChanged)};
        return {std::make_unique<WindowsHeldFile>(std::move(file), info.dwFileAttributes, std::move(content)), {}};
    }
}

}  // namespace qirn
