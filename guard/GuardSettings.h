#pragma once

// What qirn-guard watches and how it judges: /etc/qirn-checker/guard.ini.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

inline constexpr std::string_view kGuardSettingsFile = "/etc/qirn-checker/guard.ini";

struct GuardMark {
    std::string path;
    bool wholeFileSystem = false;  // else the mount that path lies on
    friend bool operator==(const GuardMark&, const GuardMark&) = default;
};

struct GuardSettings {
    std::vector<GuardMark> marks;
    bool openEvents = false;  // every open, not only a program or library about to run
    std::chrono::milliseconds deadline{200};
    std::vector<std::string> signatureFiles;
    std::optional<std::filesystem::path> quarantine;
    std::int32_t sizeLimit = 83000;
    // How long a file's change time must lie before a read for its digest to
    // stand for it later; unset: as long as a dirty page may stay unwritten.
    std::optional<std::int64_t> settleNs;
    std::string statusFile = "/run/qirn-guard/status";
    unsigned workers = 2;
};

// Reads the text of a settings file: "key = value" lines, "#" and ";"
// comments, "[section]" lines ignored. marks and signatures may repeat, one
// value per line; a mark "filesystem:/path" marks the whole file system.
// The reason the text is not valid, or nothing.
std::optional<std::string> ParseGuardSettings(std::string_view text, GuardSettings& settings);

// The same for a file.
std::optional<std::string> LoadGuardSettings(const std::filesystem::path& file, GuardSettings& settings);

}  // namespace qirn
