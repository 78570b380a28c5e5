#include "engine/signatures/SignatureFileStamp.h"

#include "engine/platform/posix/Io.h"

#include <sys/stat.h>

namespace qirn {

SignatureFileStamp StampOf(const std::filesystem::path& file)
{
    struct stat info { };
    if (::stat(file.c_str(), &info) != 0)
        return {};
    const FileStamp read = StampFromStat(info);
    return {true, read.size, read.modifiedNs, read.changedNs, read.identity};
}

}  // namespace qirn
