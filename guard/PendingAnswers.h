#pragma once

// Permission events waiting for their answer. Each is answered exactly once:
// by a worker's verdict, or with "allow" when its deadline passes first, so
// that no opener waits longer than the deadline for the guard.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

namespace qirn {

// Where answers go: the fanotify group, or a test's record.
class EventAnswerer {
public:
    virtual ~EventAnswerer() = default;
    virtual void Answer(int fd, bool allow) = 0;
    virtual void Close(int fd) = 0;
};

using GuardClock = std::chrono::steady_clock;

// One event; its descriptor is closed when the last holder lets it go.
struct PendingEvent {
    PendingEvent(EventAnswerer& answerer, int eventFd, std::int32_t eventPid, std::uint64_t eventMask,
        GuardClock::time_point eventDue)
        : fd(eventFd), pid(eventPid), mask(eventMask), due(eventDue), answerer_(answerer)
    {
    }
    PendingEvent(const PendingEvent&) = delete;
    PendingEvent& operator=(const PendingEvent&) = delete;
    ~PendingEvent() { answerer_.Close(fd); }

    const int fd;
    const std::int32_t pid;
    const std::uint64_t mask;
    const GuardClock::time_point due;
    std::atomic<bool> answered{false};

private:
    friend class PendingAnswers;
    EventAnswerer& answerer_;
};

class PendingAnswers {
public:
    using Expired = std::function<void(const PendingEvent&)>;

    PendingAnswers(EventAnswerer& answerer, GuardClock::duration deadline, Expired expired);

    // The reading thread: an event to judge. False when too many wait for a
    // worker: the event is then allowed at once.
    bool Add(int fd, std::int32_t pid, std::uint64_t mask);
    // A worker: the oldest event not yet taken or answered; null once stop is asked.
    std::shared_ptr<PendingEvent> Take(const std::stop_token& stop);
    // A worker's verdict; false when the deadline answered first.
    bool Answer(PendingEvent& event, bool allow);
    // The deadline thread's loop, until stop is asked.
    void RunDeadlines(const std::stop_token& stop);
    // Allows every event not yet answered (when the guard stops).
    void AllowAll();

private:
    EventAnswerer& answerer_;
    GuardClock::duration deadline_;
    Expired expired_;
    std::mutex mutex_;
    std::condition_variable_any added_;
    std::condition_variable_any dueChanged_;
    std::deque<std::shared_ptr<PendingEvent>> waiting_;  // not yet taken by a worker
    // Not yet answered, oldest first; held weakly so that an answered
    // event's descriptor closes at once.
    struct Due {
        GuardClock::time_point due;
        std::weak_ptr<PendingEvent> event;
    };
    std::deque<Due> due_;
};

// Events waiting for a worker beyond this are allowed at once: a flood then
// costs neither unbounded memory nor descriptors.
inline constexpr std::size_t kMostWaiting = 4096;

}  // namespace qirn
