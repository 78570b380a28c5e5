#include "engine/scan/FileExaminer.h"

#include <algorithm>

namespace qirn {

namespace {

// A large size limit costs memory only once a file that long is met.
constexpr std::size_t kFirstBuffer = std::size_t{1} << 20;
// Longer files take the single stream: a lane's buffer is held while it
// computes, so the lanes' memory stays bounded whatever the size limit.
constexpr std::size_t kLaneBuffer = std::size_t{128} << 10;

// The outcome of a file read whole, before its digests.
void TakeRead(const FileRead& read, FileOutcome& outcome)
{
    outcome.size = read.size;
    outcome.identity = read.identity;
    outcome.stamp = read.stamp;
    outcome.accessedNs = read.accessedNs;
    outcome.digested = true;
    outcome.kind = FileOutcome::Kind::Examined;
}

}  // namespace

FileExaminer::FileExaminer(std::int32_t sizeLimit, const DigestLookup* cache, bool lanes)
    : sizeLimit_(sizeLimit),
      cache_(cache),
      capacity_(static_cast<std::size_t>(std::max(sizeLimit, -1)) + 1),
      buffer_(std::min(capacity_, kFirstBuffer))
{
    if (const std::optional<Md5LaneSet> set = Md5Lanes::Best(); lanes && set) {
        lanes_.emplace(*set);
        inLane_.resize(lanes_->Width());
        laneBuffer_ = std::min(capacity_, kLaneBuffer);
    }
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
        if (!Settle(folder, name, need, early, outcome))
            ReadAndDigest(folder, name, need, outcome);
    } catch (const Failure& failure) {
        outcome.kind = FileOutcome::Kind::Failed;
        outcome.failure = failure;
    }
    return outcome;
}

// The outcomes that need no read: the length alone, or the cached digests.
bool FileExaminer::Settle(
    Folder& folder, const std::string& name, DigestNeed need, const EarlyStamp* early, FileOutcome& outcome) const
{
    if (need == DigestNeed::kNone) {
        const std::uint64_t length = folder.Length(name);
        const bool tooLong = sizeLimit_ < 0 || length > static_cast<std::uint64_t>(sizeLimit_);
        outcome.kind = tooLong ? FileOutcome::Kind::TooLong : FileOutcome::Kind::Examined;
        outcome.size = length;
        return true;
    }
    // With nothing cached, the stamp comes from the open file alone.
    if (cache_ != nullptr && !cache_->Empty()) {
        if (early != nullptr && early->failure)
            throw *early->failure;
        const std::optional<FileStamp> stamp = early != nullptr ? early->stamp : folder.Stamp(name);
        if (stamp && TakeFromCache(*stamp, need, outcome))
            return true;
    }
    return false;
}

void FileExaminer::ReadAndDigest(Folder& folder, const std::string& name, DigestNeed need, FileOutcome& outcome)
{
    outcome.readNs = WallClockNs();
    // A file that grew past the limit since it was listed fills the buffer.
    const FileRead read = ReadWhole(folder, name);
    if (read.size >= capacity_) {
        outcome.kind = FileOutcome::Kind::TooLong;
        return;
    }
    outcome.digests = digester_.Compute(std::span(buffer_).first(read.size), need == DigestNeed::kMd5AndSha256);
    TakeRead(read, outcome);
}

void FileExaminer::Begin(Folder& folder, DigestNeed need, const EarlyStamp* early, HandedFile& file)
{
    file.pending = false;
    if (!lanes_) {
        file.outcome = Examine(folder, file.name, need, early);
        return;
    }
    FileOutcome& outcome = file.outcome;
    try {
        if (!Settle(folder, file.name, need, early, outcome) && !ReadIntoLane(folder, need, file))
            ReadAndDigest(folder, file.name, need, outcome);
    } catch (const Failure& failure) {
        outcome.kind = FileOutcome::Kind::Failed;
        outcome.failure = failure;
    }
}

// False when the file is too long for a lane's buffer.
bool FileExaminer::ReadIntoLane(Folder& folder, DigestNeed need, HandedFile& file)
{
    LaneFile read{{}, 0, &file};
    if (!spares_.empty()) {
        read.buffer = std::move(spares_.back());
        spares_.pop_back();
    } else {
        read.buffer.resize(laneBuffer_);
    }
    FileOutcome& outcome = file.outcome;
    outcome.readNs = WallClockNs();
    const FileRead got = folder.ReadFile(file.name, read.buffer);
    if (got.size >= laneBuffer_) {
        spares_.push_back(std::move(read.buffer));
        if (laneBuffer_ < capacity_)
            return false;
        outcome.kind = FileOutcome::Kind::TooLong;
        return true;
    }
    read.size = got.size;
    TakeRead(got, outcome);
    if (need == DigestNeed::kMd5AndSha256)
        outcome.digests.sha256 = digester_.Sha256Of(std::span(read.buffer).first(read.size));
    file.pending = true;
    // A file alone costs less in the single stream: it waits for a second.
    if (lanes_->Busy() == 0 && !alone_) {
        alone_ = std::move(read);
        return true;
    }
    if (alone_) {
        StartInLane(std::move(*alone_));
        alone_.reset();
    }
    while (lanes_->Busy() == lanes_->Width())
        CollectEnded();
    StartInLane(std::move(read));
    return true;
}

void FileExaminer::StartInLane(LaneFile laneFile)
{
    const std::size_t lane = lanes_->Start(std::span(laneFile.buffer).first(laneFile.size));
    inLane_[lane] = std::move(laneFile);
}

void FileExaminer::CollectEnded()
{
    ended_.clear();
    lanes_->RunUntilOneEnds(ended_);
    for (const Md5Lanes::Ended& ended : ended_) {
        LaneFile& done = inLane_[ended.lane];
        done.file->outcome.digests.md5 = ended.digest;
        done.file->pending = false;
        spares_.push_back(std::move(done.buffer));
        done = {};
    }
}

bool FileExaminer::Advance()
{
    if (lanes_ && lanes_->Busy() > 0) {
        CollectEnded();
        return true;
    }
    if (!alone_)
        return false;
    alone_->file->outcome.digests.md5 = digester_.Compute(std::span(alone_->buffer).first(alone_->size), false).md5;
    alone_->file->pending = false;
    spares_.push_back(std::move(alone_->buffer));
    alone_.reset();
    return true;
}

void FileExaminer::Finish()
{
    while (Advance()) { }
}

namespace {

constexpr std::size_t kBatchSize = 32;

}  // namespace

ExaminerPool::ExaminerPool(unsigned workers, std::int32_t sizeLimit, const DigestLookup* cache, bool lanes)
    : maxOut_(std::size_t{workers} * 4)
{
    filling_.reserve(kBatchSize);
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([this, sizeLimit, cache, lanes] { Work(sizeLimit, cache, lanes); });
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
    filling_.push_back(
        {std::move(folder), need, std::move(early), {std::move(folderPath), std::move(name), {}, false}});
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

ExaminerPool::Batch* ExaminerPool::Unclaimed()
{
    for (Batch& batch : out_) {
        if (!batch.claimed)
            return &batch;
    }
    return nullptr;
}

// A worker with files in its lanes takes the next batch as soon as there is
// one, so that the lanes stay busy; with none, it lets them end, and it only
// waits with nothing pending.
void ExaminerPool::Work(std::int32_t sizeLimit, const DigestLookup* cache, bool lanes)
{
    FileExaminer examiner(sizeLimit, cache, lanes);
    std::vector<Batch*> mine;  // claimed and not finished, each only this worker's
    std::unique_lock lock(mutex_);
    for (;;) {
        Batch* batch = Unclaimed();
        if (batch == nullptr && mine.empty()) {
            workReady_.wait(lock, [&] { return (batch = Unclaimed()) != nullptr || stopping_; });
            if (batch == nullptr)
                return;
        }
        if (batch != nullptr) {
            batch->claimed = true;
            mine.push_back(batch);
        }
        lock.unlock();
        if (batch != nullptr) {
            for (Job& job : batch->jobs) {
                try {
                    examiner.Begin(*job.folder, job.need, job.early ? &*job.early : nullptr, job.done);
                } catch (const std::exception& error) {
                    job.done.outcome.failure = Failure(0, error.what());
                }
                job.folder.reset();
            }
        } else {
            examiner.Finish();
        }
        lock.lock();
        const auto finished = [](const Batch* claimed) {
            return std::none_of(
                claimed->jobs.begin(), claimed->jobs.end(), [](const Job& job) { return job.done.pending; });
        };
        for (Batch* claimed : mine) {
            if (finished(claimed)) {
                claimed->finished = true;
                batchFinished_.notify_one();
            }
        }
        std::erase_if(mine, [](const Batch* claimed) { return claimed->finished; });
    }
}

}  // namespace qirn
