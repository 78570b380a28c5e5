#pragma once

// Text and path conversions of the Windows platform layer, and failures from
// Windows error codes.

#include "engine/Failure.h"

#include <string>
#include <string_view>

namespace qirn::windows {

// UTF-8 to UTF-16 and back. Unpaired surrogates, which Windows allows in
// names, travel as WTF-8; bytes that are not UTF-8 become U+FFFD.
std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);

// The absolute form of a path with the \\?\ prefix, so that no length limit
// applies and no name is altered; "/" becomes "\".
std::wstring LongPath(std::wstring_view path);

// "context: system message", numbered with the Windows error code.
Failure ErrorFailure(unsigned long error, std::string_view context);
Failure LastErrorFailure(std::string_view context);

}  // namespace qirn::windows
