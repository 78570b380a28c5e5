#pragma once

// The record beside each quarantined file, DIR/ENTRY.json: what qirn-scan
// --move writes and --restore reads.

#include "engine/remedy/QuarantineFolder.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

// The text of ENTRY.json, and the facts read back from it.
std::string SidecarText(const QuarantineFacts& facts, std::span<const std::string_view> signatures);
std::optional<QuarantineFacts> ParseSidecar(std::string_view text);

}  // namespace qirn
