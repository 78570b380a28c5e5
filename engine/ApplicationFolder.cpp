#include "engine/ApplicationFolder.h"

#include <system_error>

namespace qirn {

std::filesystem::path ApplicationFolder()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path DefaultSignatureFile()
{
    return ApplicationFolder() / "sa.kvd";
}

}  // namespace qirn
