#pragma once

// Reads, writes, names and paths for the POSIX quarantine folder.

#include "engine/platform/posix/Io.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qirn {

timespec Timespec(std::int64_t nanoseconds);

// The whole content of an open regular file of the given length, or nullopt
// when it is not that long any more.
std::optional<std::vector<std::byte>> ReadExactly(int fd, std::uint64_t length);

bool WriteFully(int fd, std::span<const std::byte> bytes);

// A quarantine entry's name: the UTC time, then the letters, digits, ".",
// "-" and "_" of the original name, never hidden.
std::string EntryStem(const std::string& name);

// Opens the folder of an absolute path one component at a time, following no link.
UniqueFd OpenFolderNoFollow(const std::filesystem::path& folder);

}  // namespace qirn
