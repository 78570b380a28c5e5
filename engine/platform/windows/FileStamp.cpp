#include "engine/platform/FileStamp.h"

#include "engine/platform/windows/Io.h"
#include "engine/platform/windows/Text.h"

namespace qirn {

namespace {

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
std::int64_t Nanoseconds(std::int64_t ticks)
{
    constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
    return (ticks - kTicksFrom1601To1970) * 100;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::filesystem::path& file)
{
    // Links followed, as for the read that the stamp stands for.
    const windows::UniqueHandle handle(::CreateFileW(windows::LongPath(file.native()).c_str(), FILE_READ_ATTRIBUTES,
        windows::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid())
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    if (::GetFileInformationByHandle(handle.get(), &info) == 0 ||
        ::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &times, sizeof times) == 0)
        return std::nullopt;
    FileStamp stamp;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.modifiedNs = Nanoseconds(times.LastWriteTime.QuadPart);
    stamp.changedNs = Nanoseconds(times.ChangeTime.QuadPart);
    stamp.identity = windows::IdentityOf(info);
    return stamp;
}

}  // namespace qirn
