#include "guard/Fanotify.h"

#include "engine/Failure.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace qirn {

namespace {

constexpr std::size_t kReadBytes = std::size_t{64} * 1024;

std::string LinkText(const std::string& link)
{
    std::array<char, PATH_MAX> text{};
    const ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
    if (length <= 0)
        return {};
    return {text.data(), static_cast<std::size_t>(length)};
}

}  // namespace

FanotifyGroup::FanotifyGroup()
    : fd_(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE | O_CLOEXEC)), buffer_(kReadBytes)
{
    if (fd_ < 0)
        throw Failure::FromErrno(errno, "fanotify_init");
}

FanotifyGroup::~FanotifyGroup()
{
    // The kernel allows every event still waiting for this group.
    ::close(fd_);
}

void FanotifyGroup::Mark(const GuardMark& mark, bool openEvents)
{
    const std::uint64_t mask = openEvents ? FAN_OPEN_PERM | FAN_OPEN_EXEC_PERM : FAN_OPEN_EXEC_PERM;
    const unsigned flags = FAN_MARK_ADD | (mark.wholeFileSystem ? FAN_MARK_FILESYSTEM : FAN_MARK_MOUNT);
    if (::fanotify_mark(fd_, flags, mask, AT_FDCWD, mark.path.c_str()) != 0)
        throw Failure::FromErrno(errno, "fanotify_mark " + mark.path);
}

std::vector<FanotifyEvent> FanotifyGroup::Read(int timeoutMs)
{
    std::vector<FanotifyEvent> events;
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0)
        return events;
    const ssize_t length = ::read(fd_, buffer_.data(), buffer_.size());
    if (length < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return events;
        throw Failure::FromErrno(errno, "fanotify read");
    }
    // The kernel writes whole, aligned records.
    auto remaining = static_cast<std::size_t>(length);
    const std::byte* at = buffer_.data();
    while (remaining >= sizeof(fanotify_event_metadata)) {
        fanotify_event_metadata record{};
        std::memcpy(&record, at, sizeof record);
        if (record.event_len < sizeof record || record.event_len > remaining)
            break;
        if (record.vers != FANOTIFY_METADATA_VERSION)
            throw Failure(EPROTO, "fanotify: unknown record version " + std::to_string(record.vers));
        FanotifyEvent event;
        event.overflow = (record.mask & FAN_Q_OVERFLOW) != 0;
        event.fd = record.fd;
        event.pid = record.pid;
        event.mask = record.mask;
        events.push_back(event);
        at += record.event_len;
        remaining -= record.event_len;
    }
    return events;
}

void FanotifyGroup::Answer(int fd, bool allow)
{
    const fanotify_response response{fd, allow ? std::uint32_t{FAN_ALLOW} : std::uint32_t{FAN_DENY}};
    while (::write(fd_, &response, sizeof response) < 0 && errno == EINTR) { }
}

void FanotifyGroup::Close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

std::string DescriptorPath(int fd)
{
    return LinkText("/proc/self/fd/" + std::to_string(fd));
}

std::string ProcessExecutable(std::int32_t pid)
{
    return LinkText("/proc/" + std::to_string(pid) + "/exe");
}

}  // namespace qirn
