#include "guard/PendingAnswers.h"

namespace qirn {

PendingAnswers::PendingAnswers(EventAnswerer& answerer, GuardClock::duration deadline, Expired expired)
    : answerer_(answerer), deadline_(deadline), expired_(std::move(expired))
{
}

bool PendingAnswers::Add(int fd, std::int32_t pid, std::uint64_t mask)
{
    auto event = std::make_shared<PendingEvent>(answerer_, fd, pid, mask, GuardClock::now() + deadline_);
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        if (waiting_.size() >= kMostWaiting) {
            Answer(*event, true);
            return false;
        }
        first = due_.empty();
        due_.push_back({event->due, event});
        waiting_.push_back(std::move(event));
    }
    added_.notify_one();
    if (first)
        dueChanged_.notify_one();
    return true;
}

std::shared_ptr<PendingEvent> PendingAnswers::Take(const std::stop_token& stop)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!added_.wait(lock, stop, [&] { return !waiting_.empty(); }))
            return nullptr;
        std::shared_ptr<PendingEvent> event = std::move(waiting_.front());
        waiting_.pop_front();
        // One the deadline already answered needs no verdict.
        if (!event->answered.load())
            return event;
    }
}

bool PendingAnswers::Answer(PendingEvent& event, bool allow)
{
    if (event.answered.exchange(true))
        return false;
    answerer_.Answer(event.fd, allow);
    return true;
}

void PendingAnswers::RunDeadlines(const std::stop_token& stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (due_.empty()) {
            dueChanged_.wait(lock, stop, [&] { return !due_.empty(); });
            continue;
        }
        // Events come in deadline order: only the oldest can be due first.
        const GuardClock::time_point due = due_.front().due;
        if (GuardClock::now() < due) {
            dueChanged_.wait_until(lock, stop, due, [] { return false; });
            continue;
        }
        std::shared_ptr<PendingEvent> event = due_.front().event.lock();
        due_.pop_front();
        if (event == nullptr || event->answered.load())
            continue;
        lock.unlock();
        if (Answer(*event, true))
            expired_(*event);
        lock.lock();
    }
}

void PendingAnswers::AllowAll()
{
    std::deque<Due> due;
    std::deque<std::shared_ptr<PendingEvent>> waiting;
    {
        const std::lock_guard lock(mutex_);
        due.swap(due_);
        waiting.swap(waiting_);
    }
    for (const Due& entry : due) {
        if (const std::shared_ptr<PendingEvent> event = entry.event.lock())
            Answer(*event, true);
    }
}

}  // namespace qirn
