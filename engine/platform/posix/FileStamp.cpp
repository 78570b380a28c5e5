#include "engine/platform/FileStamp.h"

#include "engine/platform/posix/Io.h"

#include <sys/stat.h>

namespace qirn {

std::optional<FileStamp> StampOf(const std::filesystem::path& file)
{
    struct stat info { };
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return StampFromStat(info);
}

}  // namespace qirn
