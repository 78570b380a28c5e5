#pragma once

#include "engine/platform/Platform.h"

#include <cstddef>
#include <span>
#include <string_view>
#include <sys/stat.h>

namespace qirn {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) { }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) { }
    UniqueFd& operator=(UniqueFd&&) = delete;
    ~UniqueFd();
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Opens a regular file for reading without blocking on a FIFO or device;
// throws qirn::Failure for anything else.
UniqueFd OpenRegularFile(int folderFd, const char* name, Links links, struct stat* info = nullptr);

// The identity of a stat result.
FileIdentity IdentityOf(const struct stat& info);
// A file time as nanoseconds since the epoch.
std::int64_t Nanoseconds(const timespec& time);
// Identity, size and nanosecond times of a stat result.
FileStamp StampFromStat(const struct stat& info);

// Reads until buffer is full or the file ends; returns the bytes read.
std::size_t ReadFully(int fd, std::span<std::byte> buffer, std::string_view context);

}  // namespace qirn
