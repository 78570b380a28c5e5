#pragma once

// What qirn-guard tells: one JSON Lines record per denial and per event
// allowed without a verdict, and the counts that --status shows.

#include "engine/digest/Digest.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

struct GuardRecord {
    std::chrono::system_clock::time_point time;
    bool denied = false;
    std::string_view reason;  // "listed", "deadline", "busy"
    std::string_view path;
    std::int32_t pid = 0;
    std::string_view executable;
    const FileDigests* digests = nullptr;  // of a judged file
    std::span<const std::string> signatures;
    // Under quarantine: where the denied file went, or why it stayed.
    std::optional<std::string_view> quarantineEntry;
    std::optional<std::string_view> quarantineError;
};

// One line, newline included.
std::string GuardRecordLine(const GuardRecord& record);

struct GuardCounts {
    std::atomic<std::uint64_t> events{0};
    std::atomic<std::uint64_t> allowed{0};
    std::atomic<std::uint64_t> denied{0};
    std::atomic<std::uint64_t> read{0};    // judged from the file's bytes
    std::atomic<std::uint64_t> cached{0};  // judged from kept digests
    std::atomic<std::uint64_t> deadline{0};
    std::atomic<std::uint64_t> busy{0};  // allowed at once: too many waited
    std::atomic<std::uint64_t> notRegular{0};
    std::atomic<std::uint64_t> tooLarge{0};
    std::atomic<std::uint64_t> unreadable{0};
    std::atomic<std::uint64_t> overflows{0};
    std::atomic<std::uint64_t> reloads{0};
    std::atomic<std::uint64_t> signatures{0};
    std::atomic<std::uint64_t> ownEvents{0};
};

// "name value" lines, the form of the status file.
std::string GuardStatusText(const GuardCounts& counts, std::int32_t pid);
// The value of name in a status text.
std::optional<std::uint64_t> GuardStatusValue(std::string_view text, std::string_view name);

}  // namespace qirn
