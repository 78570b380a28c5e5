#pragma once

// The strict check a signature file must pass before it is installed from
// elsewhere: every non-blank line a digest, "=" and a name, and no markup.

#include <optional>
#include <string>
#include <string_view>

namespace qirn {

// Why body may not become the signature file, or nothing when it may. A
// digest is 32 or 64 lowercase hexadecimal digits; the name is not empty.
std::optional<std::string> UpdateBodyRejection(std::string_view body);

}  // namespace qirn
