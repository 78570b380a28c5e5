#pragma once

#include <cstddef>
#include <span>

namespace qirn {

// Fills bytes from the operating system's cryptographic random source; throws
// qirn::Failure when it cannot.
void FillFromSystemRandom(std::span<std::byte> bytes);

}  // namespace qirn
