#include "engine/Failure.h"

#include <cstring>

namespace qirn {

Failure Failure::FromErrno(int err, std::string_view context)
{
    std::string text(context);
    text += ": ";
    text += std::strerror(err);
    return {err, text};
}

}  // namespace qirn
