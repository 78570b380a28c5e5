#pragma once

// The signature loader's verdict on a whole file's text, without a list:
// used to vet downloaded bytes before they replace the signature file.

#include "engine/Failure.h"

#include <optional>
#include <string_view>

namespace qirn {

// The failure LoadSignatures would report for a file holding text
// (kNoSignatureLine or kMissingSeparator), or nothing when it accepts it.
std::optional<Failure> CheckSignatureText(std::string_view text);

}  // namespace qirn
