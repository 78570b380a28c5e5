#include "FileExaminer.h"

#include <algorithm>

namespace qirn {

FileExaminer::FileExaminer(std::int32_t sizeLimit)
    : sizeLimit_(sizeLimit), buffer_(static_cast<std::size_t>(std::max(sizeLimit, -1) + 1))
{
}

FileOutcome FileExaminer::Examine(Folder& folder, const std::string& name, bool digest)
{
    FileOutcome outcome;
    try {
        if (!digest) {
            const bool tooLong = sizeLimit_ < 0 || folder.Length(name) > static_cast<std::uint64_t>(sizeLimit_);
            outcome.kind = tooLong ? FileOutcome::Kind::TooLong : FileOutcome::Kind::Examined;
            return outcome;
        }
        // A file that grew past the limit since it was listed fills the buffer.
        const FileRead read = folder.ReadFile(name, buffer_);
        if (read.size == buffer_.size()) {
            outcome.kind = FileOutcome::Kind::TooLong;
            return outcome;
        }
        outcome.digest = md5_.Compute(std::span(buffer_).first(read.size));
        outcome.identity = read.identity;
        outcome.digested = true;
        outcome.kind = FileOutcome::Kind::Examined;
    } catch (const Failure& failure) {
        outcome.kind = FileOutcome::Kind::Failed;
        outcome.failure = failure;
    }
    return outcome;
}

ExaminerPool::ExaminerPool(unsigned workers, std::int32_t sizeLimit) : ring_(std::max(64u, workers * 64u))
{
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([this, sizeLimit] { Work(sizeLimit); });
}

ExaminerPool::~ExaminerPool()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

bool ExaminerPool::Full() const
{
    const std::lock_guard lock(mutex_);
    return nextFree_ - oldest_ == ring_.size();
}

bool ExaminerPool::Empty() const
{
    const std::lock_guard lock(mutex_);
    return nextFree_ == oldest_;
}

void ExaminerPool::Submit(std::shared_ptr<Folder> folder, std::string folderPath, std::string name, bool digest)
{
    {
        const std::lock_guard lock(mutex_);
        Job& job = ring_[nextFree_++ % ring_.size()];
        job.folder = std::move(folder);
        job.digest = digest;
        job.finished = false;
        job.done.folderPath = std::move(folderPath);
        job.done.name = std::move(name);
    }
    workReady_.notify_one();
}

ExaminerPool::Done ExaminerPool::TakeOldest()
{
    std::unique_lock lock(mutex_);
    jobFinished_.wait(lock, [&] { return ring_[oldest_ % ring_.size()].finished; });
    return PopOldest();
}

std::optional<ExaminerPool::Done> ExaminerPool::TryTakeOldest()
{
    const std::lock_guard lock(mutex_);
    if (oldest_ == nextFree_ || !ring_[oldest_ % ring_.size()].finished)
        return std::nullopt;
    return PopOldest();
}

ExaminerPool::Done ExaminerPool::PopOldest()
{
    Job& job = ring_[oldest_++ % ring_.size()];
    job.folder.reset();
    return std::move(job.done);
}

void ExaminerPool::Work(std::int32_t sizeLimit)
{
    FileExaminer examiner(sizeLimit);
    std::unique_lock lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [&] { return stopping_ || nextToClaim_ != nextFree_; });
        if (nextToClaim_ == nextFree_)
            return;
        // The slot stays this worker's until it is marked finished.
        Job& job = ring_[nextToClaim_++ % ring_.size()];
        lock.unlock();
        FileOutcome outcome;
        try {
            outcome = examiner.Examine(*job.folder, job.done.name, job.digest);
        } catch (const std::exception& error) {
            outcome.failure = Failure(0, error.what());
        }
        lock.lock();
        job.done.outcome = std::move(outcome);
        job.finished = true;
        jobFinished_.notify_one();
    }
}

}  // namespace qirn
