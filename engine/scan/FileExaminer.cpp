#include "engine/scan/FileExaminer.h"

#include <algorithm>

namespace qirn {

namespace {

// A large size limit costs memory only once a file that long is met.
constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;

}  // namespace

FileExaminer::FileExaminer(std::int32_t sizeLimit, const DigestLookup* cache)
    : sizeLimit_(sizeLimit),
      cache_(cache),
      capacity_(static_cast<std::size_t>(std::max(sizeLimit, -1)) + 1),
      buffer_(std::min(capacity_, kFirstBuffer))
{
}

FileRead FileExaminer::ReadWhole(Folder& folder, const std::string& name)
{
    for (;;) {
        const FileRead read = folder.ReadFile(name, buffer_);
        if (read.size < buffer_.size() || buffer_.size() == capacity_)
            return read;
        const std::uint64_t length = folder.Length(name);
        if (length >= capacity_)
            return {capacity_, read.identity, read.stamp};
        // The file may still grow: each round the buffer does too, up to capacity_.
        buffer_.resize(std::min<std::uint64_t>(capacity_, std::max<std::uint64_t>(length + 1, buffer_.size() * 2)));
    }
}

EarlyStamp TakeEarlyStamp(Folder& folder, const std::string& name)
{
    try {
        return {folder.Stamp(name), std::nullopt};
    } catch (const Failure& failure) {
        return {std::nullopt, failure};
    }
}

bool FileExaminer::TakeFromCache(const FileStamp& stamp, DigestNeed need, FileOutcome& outcome) const
{
    if (sizeLimit_ < 0 || stamp.size > static_cast<std::uint64_t>(sizeLimit_)) {
        outcome.kind = FileOutcome::Kind::TooLong;
        return true;
    }
    outcome.cached = cache_->Trusted(stamp, need == DigestNeed::kMd5AndSha256);
    if (outcome.cached == nullptr)
        return false;
    outcome.digests = {outcome.cached->digest.md5, outcome.cached->digest.sha256};
    outcome.identity = stamp.identity;
    outcome.stamp = stamp;
    outcome.size = stamp.size;
    outcome.digested = true;
    outcome.kind = FileOutcome::Kind::Examined;
    return true;
}

FileOutcome FileExaminer::Examine(Folder& folder, const std::string& name, DigestNeed need, const EarlyStamp* early)
{
    FileOutcome outcome;
    try {
        if (need == DigestNeed::kNone) {
            const std::uint64_t length = folder.Length(name);
            const bool tooLong = sizeLimit_ < 0 || length > static_cast<std::uint64_t>(sizeLimit_);
            outcome.kind = tooLong ? FileOutcome::Kind::TooLong : FileOutcome::Kind::Examined;
            outcome.size = length;
            return outcome;
        }
        // With nothing cached, the stamp comes from the open file alone.
        if (cache_ != nullptr && !cache_->Empty()) {
            if (early != nullptr && early->failure)
                throw *early->failure;
            const std::optional<FileStamp> stamp = early != nullptr ? early->stamp : folder.Stamp(name);
            if (stamp && TakeFromCache(*stamp, need, outcome))
                return outcome;
        }
        outcome.readNs = WallClockNs();
        // A file that grew past the limit since it was listed fills the buffer.
        const FileRead read = ReadWhole(folder, name);
        if (read.size >= capacity_) {
            outcome.kind = FileOutcome::Kind::TooLong;
            return outcome;
        }
        outcome.digests = digester_.Compute(std::span(buffer_).first(read.size), need == DigestNeed::kMd5AndSha256);
        outcome.size = read.size;
        outcome.identity = read.identity;
        outcome.stamp = read.stamp;
        outcome.accessedNs = read.accessedNs;
        outcome.digested = true;
        outcome.kind = FileOutcome::Kind::Examined;
    } catch (const Failure& failure) {
        outcome.kind = FileOutcome::Kind::Failed;
        outcome.failure = failure;
    }
    return outcome;
}

namespace {

constexpr std::size_t kBatchSize = 32;

}  // namespace

ExaminerPool::ExaminerPool(unsigned workers, std::int32_t sizeLimit, const DigestLookup* cache)
    : maxOut_(std::size_t{workers} * 4)
{
    filling_.reserve(kBatchSize);
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([this, sizeLimit, cache] { Work(sizeLimit, cache); });
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

bool ExaminerPool::Add(std::shared_ptr<Folder> folder, std::string folderPath, std::string name, DigestNeed need,
    std::optional<EarlyStamp> early)
{
    filling_.push_back({std::move(folder), need, std::move(early), {std::move(folderPath), std::move(name), {}}});
    if (filling_.size() < kBatchSize)
        return false;
    Flush();
    return true;
}

void ExaminerPool::Flush()
{
    if (filling_.empty())
        return;
    {
        const std::lock_guard lock(mutex_);
        out_.push_back({std::move(filling_), false, false});
    }
    workReady_.notify_one();
    filling_ = {};
    filling_.reserve(kBatchSize);
}

bool ExaminerPool::Idle() const
{
    const std::lock_guard lock(mutex_);
    return filling_.empty() && out_.empty();
}

std::vector<ExaminerPool::Done> ExaminerPool::TakeFinished(bool wait)
{
    std::vector<Done> finished;
    std::unique_lock lock(mutex_);
    if (!out_.empty() && (wait || out_.size() > maxOut_))
        batchFinished_.wait(lock, [&] { return out_.front().finished; });
    while (!out_.empty() && out_.front().finished) {
        for (Job& job : out_.front().jobs)
            finished.push_back(std::move(job.done));
        out_.pop_front();
    }
    return finished;
}

void ExaminerPool::Work(std::int32_t sizeLimit, const DigestLookup* cache)
{
    FileExaminer examiner(sizeLimit, cache);
    std::unique_lock lock(mutex_);
    for (;;) {
        Batch* batch = nullptr;
        workReady_.wait(lock, [&] {
            for (Batch& candidate : out_) {
                if (!candidate.claimed) {
                    batch = &candidate;
                    return true;
                }
            }
            return stopping_;
        });
        if (batch == nullptr)
            return;
        // The batch stays this worker's until it is marked finished.
        batch->claimed = true;
        lock.unlock();
        for (Job& job : batch->jobs) {
            try {
                job.done.outcome =
                    examiner.Examine(*job.folder, job.done.name, job.need, job.early ? &*job.early : nullptr);
            } catch (const std::exception& error) {
                job.done.outcome.failure = Failure(0, error.what());
            }
            job.folder.reset();
        }
        lock.lock();
        batch->finished = true;
        batchFinished_.notify_one();
    }
}

}  // namespace qirn
