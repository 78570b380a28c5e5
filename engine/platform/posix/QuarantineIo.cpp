#include "engine/platform/posix/QuarantineIo.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace qirn {

timespec Timespec(std::int64_t nanoseconds)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    time.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    if (time.tv_nsec < 0) {
        time.tv_nsec += 1'000'000'000;
        --time.tv_sec;
    }
    return time;
}

std::optional<std::vector<std::byte>> ReadExactly(int fd, std::uint64_t length)
{
    std::vector<std::byte> bytes(static_cast<std::size_t>(length) + 1);
    const std::size_t got = ReadFully(fd, bytes, "read");
    if (got != length)
        return std::nullopt;
    bytes.pop_back();
    return bytes;
}

bool WriteFully(int fd, std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

std::string EntryStem(const std::string& name)
{
    std::string stem;
    for (const char c : name.substr(0, 80)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_';
        stem += plain ? c : '_';
    }
    if (stem.empty() || stem[0] == '.')
        stem.insert(stem.begin(), '_');
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const auto day = std::chrono::floor<std::chrono::days>(now);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{now - day};
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04d%02u%02uT%02d%02d%02dZ-", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
    return prefix + stem;
}

UniqueFd OpenFolderNoFollow(const std::filesystem::path& folder)
{
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::filesystem::path& part : folder.relative_path()) {
        if (fd < 0 || part.empty() || part == ".")
            continue;
        const int next =
            part == ".." ? -1 : ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = part == ".." ? EINVAL : error;
    }
    return UniqueFd(fd);
}

}  // namespace qirn
