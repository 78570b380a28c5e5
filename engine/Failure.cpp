#include "engine/Failure.h"

#include <cstring>

namespace qirn {

namespace {

// GNU strerror_r may return a static text instead of filling the buffer;
// the XSI one fills it and returns 0.
[[maybe_unused]] const char* ChosenText(const char* text, const char* /*buffer*/)
{
    return text;
}

[[maybe_unused]] const char* ChosenText(int result, const char* buffer)
{
    return result == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string ErrorText(int err)
{
    char buffer[256] = "";
#ifdef _WIN32
    // The Windows C runtime keeps strerror's text per thread.
    static_cast<void>(buffer);
    return std::strerror(err);  // NOLINT(concurrency-mt-unsafe)
#else
    return ChosenText(::strerror_r(err, buffer, sizeof buffer), buffer);
#endif
}

Failure Failure::FromErrno(int err, std::string_view context)
{
    std::string text(context);
    text += ": ";
    text += ErrorText(err);
    return {err, text};
}

}  // namespace qirn
