#pragma once

// The record beside each quarantined file, DIR/ENTRY.json: what qirn-scan
// --move and Delete in the window write, and what --restore reads.

#include "engine/remedy/QuarantineFolder.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

// The text of ENTRY.json, and the facts read back from it.
std::string SidecarText(const QuarantineFacts& facts, std::span<const std::string_view> signatures);
std::optional<QuarantineFacts> ParseSidecar(std::string_view text);

// When the record says the file was quarantined: the time this program
// wrote, never one of the file's own.
std::optional<std::chrono::system_clock::time_point> QuarantinedAt(std::string_view text);

}  // namespace qirn
