#include "engine/ApplicationFolder.h"

#include "engine/Platform.h"

namespace qirn {

std::filesystem::path ApplicationFolder()
{
    const std::filesystem::path exe = ExecutablePath();
    if (exe.empty())
        return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path DefaultSignatureFile()
{
    return ApplicationFolder() / "sa.kvd";
}

}  // namespace qirn
