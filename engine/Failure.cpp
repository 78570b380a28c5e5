#include "Failure.h"

#include <cstring>

namespace qirn {

Failure Failure::FromErrno(int err, std::string_view context)
{
    std::string text(context);
    text += ": ";
    text += std::strerror(err);
    return Failure(err, text);
}

}  // namespace qirn
