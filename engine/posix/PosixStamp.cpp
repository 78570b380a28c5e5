#include "engine/SignatureFileStamp.h"

#include <sys/stat.h>

namespace qirn {

namespace {

// A file time (seconds and nanoseconds) as nanoseconds.
template <class FileTime>
std::int64_t Nanoseconds(const FileTime& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

SignatureFileStamp StampOf(const std::filesystem::path& file)
{
    struct stat info { };
    if (::stat(file.c_str(), &info) != 0)
        return {};
    SignatureFileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = Nanoseconds(info.st_mtim);
    stamp.changedNs = Nanoseconds(info.st_ctim);
    stamp.identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return stamp;
}

}  // namespace qirn
