#pragma once

// Reading and digesting single files of a walk, inline or on worker threads.

#include "engine/Failure.h"
#include "engine/digest/Digest.h"
#include "engine/digest/Md5Lanes.h"
#include "engine/platform/FileSystem.h"
#include "engine/scan/DigestLookup.h"
#include "engine/signatures/SignatureList.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qirn {

// Which digests a file's bytes get: none (only the length is read), MD5, or
// MD5 and SHA-256 from the same read.
enum class DigestNeed { kNone, kMd5, kMd5AndSha256 };

// What a walk must compute to match against signatures.
inline DigestNeed NeedOf(const SignatureList& signatures)
{
    if (signatures.Count() == 0)
        return DigestNeed::kNone;
    return signatures.HasSha256() ? DigestNeed::kMd5AndSha256 : DigestNeed::kMd5;
}

struct FileOutcome {
    enum class Kind { TooLong, Examined, Failed };
    Kind kind = Kind::Failed;
    bool digested = false;
    std::uint64_t size = 0;  // of an examined file
    FileDigests digests;
    FileIdentity identity;
    std::optional<Failure> failure;
    // With a cache: the entry whose digest was taken instead of reading, or
    // else the stamp of what was read and when the read began.
    const DigestLookup::Kept* cached = nullptr;
    FileStamp stamp;
    std::int64_t readNs = 0;
    std::int64_t accessedNs = 0;  // the file's access time before the read; 0 when not read
};

// A file handed out by the walk, and what became of it. With MD5 lanes the
// outcome is complete only once pending is false.
struct HandedFile {
    std::string folderPath;
    std::string name;
    FileOutcome outcome;
    bool pending = false;  // its MD5 is still being computed in a lane
};

// A file's stat taken while the cache still loads, so that examining it
// later need not take it again.
struct EarlyStamp {
    std::optional<FileStamp> stamp;
    std::optional<Failure> failure;  // the stat's
};
EarlyStamp TakeEarlyStamp(Folder& folder, const std::string& name);

// One examiner per thread: it owns the read buffers and the digest contexts.
class FileExaminer {
public:
    // With lanes, and where the processor has them, Begin computes the MD5
    // of many files at once.
    explicit FileExaminer(std::int32_t sizeLimit, const DigestLookup* cache = nullptr, bool lanes = false);

    FileOutcome Examine(Folder& folder, const std::string& name, DigestNeed need, const EarlyStamp* early = nullptr);

    // Examines file.name as Examine does, but may leave its MD5 pending in a
    // lane: file must then stay in place until Advance or Finish completes it.
    void Begin(Folder& folder, DigestNeed need, const EarlyStamp* early, HandedFile& file);
    // Completes at least one pending file; false when none was pending.
    bool Advance();
    // Completes every pending file.
    void Finish();

private:
    // A file read for the lanes, with the buffer that holds its bytes.
    struct LaneFile {
        std::vector<std::byte> buffer;
        std::size_t size = 0;
        HandedFile* file = nullptr;
    };

    bool Settle(
        Folder& folder, const std::string& name, DigestNeed need, const EarlyStamp* early, FileOutcome& outcome) const;
    void ReadAndDigest(Folder& folder, const std::string& name, DigestNeed need, FileOutcome& outcome);
    FileRead ReadWhole(Folder& folder, const std::string& name);
    bool TakeFromCache(const FileStamp& stamp, DigestNeed need, FileOutcome& outcome) const;
    bool ReadIntoLane(Folder& folder, DigestNeed need, HandedFile& file);
    void StartInLane(LaneFile laneFile);
    void CollectEnded();

    std::int32_t sizeLimit_;
    const DigestLookup* cache_;
    std::size_t capacity_;           // one byte more than the limit: a full read means too long
    std::vector<std::byte> buffer_;  // grows up to capacity_ with the longest file read
    Digester digester_;

    std::optional<Md5Lanes> lanes_;
    std::size_t laneBuffer_ = 0;                  // files that fill it take the single stream
    std::vector<LaneFile> inLane_;                // by lane
    std::vector<std::vector<std::byte>> spares_;  // buffers in no lane
    std::optional<LaneFile> alone_;               // read while no lane was busy
    std::vector<Md5Lanes::Ended> ended_;
};

// Examines files on worker threads; outcomes are taken back in the order the
// files were added. Files travel in batches, so threads meet once per batch.
class ExaminerPool {
public:
    using Done = HandedFile;

    ExaminerPool(unsigned workers, std::int32_t sizeLimit, const DigestLookup* cache = nullptr, bool lanes = false);
    ExaminerPool(const ExaminerPool&) = delete;
    ExaminerPool& operator=(const ExaminerPool&) = delete;
    ~ExaminerPool();

    // True when this handed a full batch to the workers.
    bool Add(std::shared_ptr<Folder> folder, std::string folderPath, std::string name, DigestNeed need,
        std::optional<EarlyStamp> early = std::nullopt);
    // Hands out the batch being filled, however short.
    void Flush();
    bool Idle() const;
    // The finished batches at the front, in order. Waits for the oldest when
    // wait is set or when too many batches are out.
    std::vector<Done> TakeFinished(bool wait);

private:
    struct Job {
        std::shared_ptr<Folder> folder;
        DigestNeed need = DigestNeed::kNone;
        std::optional<EarlyStamp> early;
        Done done;
    };
    struct Batch {
        std::vector<Job> jobs;
        bool claimed = false;
        bool finished = false;
    };

    void Work(std::int32_t sizeLimit, const DigestLookup* cache, bool lanes);
    Batch* Unclaimed();

    std::vector<Job> filling_;
    std::size_t maxOut_;
    mutable std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable batchFinished_;
    std::deque<Batch> out_;  // references stay valid while batches are added behind
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace qirn
