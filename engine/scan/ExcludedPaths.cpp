#include "engine/scan/ExcludedPaths.h"

#include "engine/platform/FileSystem.h"
#include "engine/platform/Platform.h"

#include <algorithm>

namespace qirn {

bool ExcludedPaths::Excludes(std::string_view path, std::string_view /*name*/) const
{
    return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

std::optional<std::string> WalkPathOf(const std::filesystem::path& folder, const std::string& top)
{
    std::error_code error;
    const std::filesystem::path scanned = std::filesystem::canonical(PathFromText(top), error);
    if (folder.empty() || error)
        return std::nullopt;
    const std::filesystem::path canonical = std::filesystem::canonical(folder, error);
    if (error)
        return std::nullopt;
    const std::filesystem::path relative = canonical.lexically_relative(scanned);
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    if (relative == ".")
        return top;
    std::string path = top;
    if (path.back() != kPathSeparator)
        path += kPathSeparator;
    return path + TextFromPath(relative);
}

}  // namespace qirn
