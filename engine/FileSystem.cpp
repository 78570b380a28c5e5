#include "engine/FileSystem.h"

#include <fnmatch.h>
#include <string>

namespace qirn {

bool MatchesPattern(std::string_view name, std::string_view pattern)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    const std::string text(name);
    return ::fnmatch(std::string(pattern).c_str(), text.c_str(), 0) == 0;
}

}  // namespace qirn
