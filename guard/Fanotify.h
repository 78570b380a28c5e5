#pragma once

// The kernel's fanotify group of the guard: permission events on the marked
// mounts or file systems, read in batches and answered by descriptor.

#include "guard/GuardSettings.h"
#include "guard/PendingAnswers.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qirn {

struct FanotifyEvent {
    int fd = -1;  // -1 for a queue overflow
    std::int32_t pid = 0;
    std::uint64_t mask = 0;
    bool overflow = false;
};

class FanotifyGroup final : public EventAnswerer {
public:
    // Throws qirn::Failure (with errno's number) when the kernel refuses:
    // EPERM without CAP_SYS_ADMIN, EINVAL where permission events are not built in.
    FanotifyGroup();
    FanotifyGroup(const FanotifyGroup&) = delete;
    FanotifyGroup& operator=(const FanotifyGroup&) = delete;
    ~FanotifyGroup() override;

    // Throws qirn::Failure.
    void Mark(const GuardMark& mark, bool openEvents);
    // Waits up to timeoutMs for events; none when the wait ends first.
    std::vector<FanotifyEvent> Read(int timeoutMs);

    void Answer(int fd, bool allow) override;
    void Close(int fd) override;

private:
    int fd_;
    std::vector<std::byte> buffer_;
};

// The path of an open descriptor, as /proc/self/fd tells it.
std::string DescriptorPath(int fd);
// The executable of a process, as /proc/PID/exe tells it; empty when gone.
std::string ProcessExecutable(std::int32_t pid);

}  // namespace qirn
